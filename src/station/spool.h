#pragma once
// The records of a server's ledger that could not reach it yet: a local
// SQLite file of the station's own, read in the order written, each record
// gone from it only once the server has it.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace fernwick::station {

struct spooled_record {
    std::int64_t id = 0;
    std::string attempt;  // the record's identity: the server writes it once
    std::string hold;     // the number's hold on the server; empty for none
    bool passed = false;
    std::string row;      // the row as JSON
    std::string refused;  // why the server refused it for good; empty while it waits
};

class spool {
public:
    // Creates or opens the spool at `path` (its folder made) for the records
    // of the ledger whose identity is `ledger`: those of another ledger in
    // the same file are never sent to this one. nullptr with `why` for a
    // link, a file that is not a spool, or one that cannot be written.
    // Several stations of a host may share one.
    static std::unique_ptr<spool> open(const std::string& path, const std::string& ledger, std::string& why);
    ~spool();
    spool(const spool&) = delete;
    spool& operator=(const spool&) = delete;

    bool add(const spooled_record& r, std::string& why);
    // The oldest record still waiting.
    std::optional<spooled_record> oldest(std::string& why);
    bool remove(std::int64_t id, std::string& why);
    bool refuse(std::int64_t id, const std::string& reason, std::string& why);
    // Waiting, and refused for good; -1 when the file cannot be read.
    int waiting();
    int refused();
    // Records of other ledgers in the same file.
    int others();
    const std::string& path() const { return path_; }

private:
    spool(sqlite3* db, std::string path, std::string ledger)
        : db_(db), path_(std::move(path)), ledger_(std::move(ledger))
    {
    }
    sqlite3* db_;
    const std::string path_;
    const std::string ledger_;
};

// This user's spool for the server at `where` ("HOST:PORT/DB"):
// $XDG_STATE_HOME/fernwick, or ~/.local/state/fernwick.
std::string default_spool_path(const std::string& where);

}  // namespace fernwick::station
