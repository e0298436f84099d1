#pragma once
// The files a run writes besides the boards' ports: the block file beside
// the hex file, the report, each board's log and trace. They are checked
// before any board is touched: none may be the hex file or another of them,
// through a link or not.

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fernwick::station {

// The name of a board's log in the log folder: "/dev/ttyUSB0" gives
// "dev-ttyUSB0.log".
std::string log_file_name(const std::string& device);

struct written_file {
    std::string named;  // as the operator reads it: "the report line.jsonl"
    std::string path;
};

// Why the hex file `input` (empty: none) and one of `files`, or two of the
// files, are one file: "the report app.hex is the hex file", "the log ...
// and the trace ... are one file". nullopt when they are all apart.
std::optional<std::string> one_file(const std::string& input, const std::vector<written_file>& files);

// Whether two device names open one device (a link, a bare name in /dev).
bool same_device(const std::string& a, const std::string& b);

// One board's message log. Created without following a link, and cut to
// nothing only once this run holds its lock, so that the log of a run still
// going on elsewhere is never cut.
class log_file {
public:
    // nullptr with `why` when it cannot be written, or another run holds it.
    // The last run's log stays as it is until cut().
    static std::unique_ptr<log_file> open(const std::string& path, std::string& why);
    // Empties the file for this run: once every check passed, so that a run
    // refused before any board was touched leaves the last run's log whole.
    bool cut();
    ~log_file();
    log_file(const log_file&) = delete;
    log_file& operator=(const log_file&) = delete;

    // The line and a line end; false once a write failed (why() says why).
    bool write_line(const std::string& line);
    const std::string& why() const { return why_; }

private:
    log_file(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
    int fd_;
    std::string path_;
    std::string why_;
};

}  // namespace fernwick::station
