#pragma once
// A stream's text handed on line by line: a board's message log into its
// log file or onto the screen.

#include <functional>
#include <streambuf>
#include <string>

namespace fernwick::station {

// Hands each whole line to `line`; what is left unfinished goes at the end.
class line_buffer : public std::streambuf {
public:
    explicit line_buffer(std::function<void(const std::string&)> line) : line_(std::move(line)) {}
    ~line_buffer() override { finish(); }
    line_buffer(const line_buffer&) = delete;
    line_buffer& operator=(const line_buffer&) = delete;
    void finish();

protected:
    int_type overflow(int_type c) override;

private:
    std::function<void(const std::string&)> line_;
    std::string pending_;
};

}  // namespace fernwick::station
