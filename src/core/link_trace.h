#pragma once
// A trace of everything that crosses the serial links, for bug reports:
// FERNWICK_TRACE=FILE makes both programs write one line per event,
//   <ms since start> <link> <event> [<bytes in hex> | <details>]
// with the events open, open-failed, close, out (bytes written) and in
// (bytes read), e.g. "1532 COM out 40 40" or "1540 COM in 00 10 80 88".
// Writes that follow each other on one link with nothing between them (a
// block goes out a byte at a time) share one "out" line, stamped with the
// time of the first.

#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "core/app_state.h"

namespace fernwick::core {

class trace_file {
public:
    // nullptr when the file cannot be created; `reason` then holds the
    // system's reason.
    static std::shared_ptr<trace_file> create(const std::string& path, std::string& reason);
    ~trace_file();
    trace_file(const trace_file&) = delete;
    trace_file& operator=(const trace_file&) = delete;

    void record(std::string_view link, std::string_view event, std::string_view details);
    // Writes the "out" line still growing; the file is complete on disk.
    void complete();
    void record_bytes(std::string_view link, std::string_view event, const byte_string& bytes);
    // False once a line could not be written (a full disk).
    bool whole() const { return whole_; }

private:
    explicit trace_file(std::FILE* file) : file_(file) {}
    long long now_ms() const;
    void write_line(long long ms, std::string_view link, std::string_view event, std::string_view details);
    void write_pending();

    std::FILE* file_;
    bool whole_ = true;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    // The "out" line still growing.
    std::string pending_link_;
    std::string pending_hex_;
    long long pending_ms_ = 0;
};

// Wraps both links of the state so that their traffic goes to `trace`.
void trace_links(app_state& s, const std::shared_ptr<trace_file>& trace);

// Wraps both links of the state so that their traffic goes to the trace
// named by FERNWICK_TRACE; does nothing when it is not set. When the trace
// file cannot be created: "cannot create the trace file PATH: REASON".
std::optional<std::string> trace_links_from_environment(app_state& s);

}  // namespace fernwick::core
