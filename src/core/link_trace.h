#pragma once
// A trace of everything that crosses the serial links, for bug reports:
// FERNWICK_TRACE=FILE makes both programs write one line per event,
//   <ms since start> <link> <event> [<bytes in hex> | <details>]
// with the events open, open-failed, close, out (bytes written) and in
// (bytes read), e.g. "1532 COM out 40 40" or "1540 COM in 00 10 80 88".

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "core/app_state.h"

namespace fernwick::core {

class trace_file {
public:
    // nullptr when the file cannot be created.
    static std::shared_ptr<trace_file> create(const std::string& path);
    ~trace_file();
    trace_file(const trace_file&) = delete;
    trace_file& operator=(const trace_file&) = delete;

    void record(std::string_view link, std::string_view event, std::string_view details);
    void record_bytes(std::string_view link, std::string_view event, const byte_string& bytes);

private:
    explicit trace_file(std::FILE* file) : file_(file) {}
    std::FILE* file_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

// Wraps both links of the state so that their traffic goes to the trace
// named by FERNWICK_TRACE; does nothing when it is not set. False when the
// trace file cannot be created.
bool trace_links_from_environment(app_state& s);

}  // namespace fernwick::core
