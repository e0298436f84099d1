#pragma once
// The hex file as a station's boards get it: checked, converted and hashed,
// and when it changes on disk checked again off the thread that serves the
// fixtures, so that a file that holds its reader (a FIFO moved over it)
// holds up no board.

#include <QObject>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/report.h"
#include "station/station_setup.h"

namespace fernwick::station {

struct station_file {
    std::shared_ptr<const core::prepared_blocks> blocks;
    run_description description;
    std::vector<std::string> notes;  // what the plan leaves out, said once
    std::string stamp;               // file_stamp() of the hex file before it was read
};

// The file planned and converted, its block file written beside it, and the
// same SHA-256 before and after; the reason it cannot be used otherwise.
std::shared_ptr<const station_file> load_file(const station_setup& r, std::string& why);

// The file a name stands for now, links followed, and its last change: a
// link pointed at another file of the same time changes it too. Empty when
// there is none.
std::string file_stamp(const std::filesystem::path& path);

// Checks the file on a thread of its own for each change and hands the
// result to `done` in `context`'s thread. Only the latest check's result is
// handed on; one that comes after the checker is gone is dropped (a check
// held up for good ends with the program).
class file_checker {
public:
    using done_fn = std::function<void(std::shared_ptr<const station_file>, const std::string& why)>;
    file_checker(QObject& context, done_fn done);
    ~file_checker();
    file_checker(const file_checker&) = delete;
    file_checker& operator=(const file_checker&) = delete;

    void check(const station_setup& r);

private:
    struct mailbox;
    std::shared_ptr<mailbox> mailbox_;
};

}  // namespace fernwick::station
