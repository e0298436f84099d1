#pragma once
// The ledger on a PostgreSQL server, shared by the stations of many hosts.
// A board's number is held in one short transaction before its first block
// and settled in the one that writes its row; a record the server cannot
// take now waits in the station's spool and is forwarded, in order and
// once, when it is back. A watcher thread renews the station's holds,
// re-makes a lost connection with a bounded back-off and forwards the spool.

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "station/ledger.h"
#include "station/server_link.h"
#include "station/spool.h"

namespace fernwick::station {

// How long a hold lasts unrenewed, unless ledger init is told otherwise.
inline constexpr int k_default_reservation_s = 120;

class server_ledger : public ledger {
public:
    // Connects, checks the ledger's tables, opens the spool and forwards
    // what waits in it. nullptr with `why` naming the server and the reason
    // when the server cannot be reached, refuses the user, holds no ledger
    // (naming the command that makes one), or the spool cannot be kept.
    static std::unique_ptr<ledger> open(const std::string& target, const ledger_options& options, std::string& why);
    // For reading: no spool, no watcher.
    static std::unique_ptr<ledger> open_to_read(const std::string& target, std::string& why);
    // `fernwick-cli ledger init`: the tables in a database that holds none of
    // their names. What was done, or nullopt with `why`.
    static std::optional<std::string> init(const std::string& target, std::optional<int> reservation_seconds,
                                           std::string& why);
    ~server_ledger() override;

    bool record(const ledger_row& row, const serial_value* serial, std::string& why) override;
    std::unique_ptr<serial_book> book(numbers_series series, std::string& why) override;
    std::optional<std::vector<ledger_row>> rows(const std::optional<std::string>& serial, std::string& why) override;
    std::optional<std::vector<std::string>> notes(std::string& why) override;
    bool gone() const override { return gone_; }
    std::string gone_text() const override;
    std::string name() const override { return "the ledger server " + where_; }
    ledger_health health() const override;
    std::vector<std::string> news() override;
    std::string finish() override;

    // The round trips to the server so far.
    long round_trips() const { return link_.round_trips(); }

private:
    class server_book;
    explicit server_ledger(std::string target);
    bool check_tables(std::string& why);
    bool writable(std::string& why);
    void stop_watching();
    // One call while the server is reachable: false with `lost` when it is
    // not (marked so), or with the server's refusal.
    server_link::outcome call(const char* sql, const server_params& params, server_rows& rows, std::string& why);
    bool forward(std::string& why);
    void mark_down(const std::string& why);
    void watch();
    void give_back(const std::vector<std::string>& holds);
    // The numbers the books hold ahead, taken from them.
    std::vector<std::string> unused_holds();
    void rewind_books();  // a number behind their front went back
    bool reachable() const { return reachable_; }

    const std::string target_;
    const std::string where_;  // "HOST:PORT/DB"
    std::string host_;
    std::string station_;        // "PID START"
    std::string ledger_id_;      // the ledger's own identity: a database made anew is another
    bool other_ledger_ = false;  // the server read last holds another ledger (under link_mutex_)
    int reservation_seconds_ = k_default_reservation_s;
    int lease_ = 0;

    mutable std::mutex link_mutex_;
    server_link link_;
    std::unique_ptr<spool> spool_;
    std::mutex spool_mutex_;
    std::atomic<bool> reachable_{false};
    std::atomic<bool> gone_{false};
    std::atomic<std::time_t> down_since_{0};
    void tell(std::string line);
    std::mutex news_mutex_;
    std::vector<std::string> news_;

    // The numbers this station holds, by serial_key(): their holds.
    static std::optional<std::string> serial_key(const serial_value* v);
    std::string hold_of(const serial_value& v);
    void held(const serial_value& v);
    void settled(const std::string& key);
    std::mutex holds_mutex_;
    std::map<std::string, std::string> holds_;

    std::mutex books_mutex_;
    std::set<server_book*> books_;

    std::mutex watch_mutex_;
    std::condition_variable watch_wake_;
    bool watch_end_ = false;
    std::thread watcher_;
};

}  // namespace fernwick::station
