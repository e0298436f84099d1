#include <gtest/gtest.h>

#include "sim_link.h"
#include "support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;
using fernwick::bootstrap::first_loader_bytes;
using fernwick::bootstrap::main_program_bytes;

// A link on the board whose notifications log what their handler read.
struct host {
    explicit host(sim_board& board, int port = 1) : link(board.platform().make_link())
    {
        link->set_comm_port(port);
        link->set_receive_callback([this](int event) {
            EXPECT_FALSE(in_handler) << "notification inside another handler";
            EXPECT_EQ(event, fernwick::core::k_comm_event_receive);
            in_handler = true;
            reads.push_back(hex_of(link->read_all()));
            if (on_read) on_read(reads.back());
            in_handler = false;
        });
    }
    std::unique_ptr<fernwick::core::serial_link> link;
    std::vector<std::string> reads;
    std::function<void(const std::string&)> on_read;
    bool in_handler = false;
};

TEST(sim_board, opening_fails_like_a_real_port)
{
    struct row {
        const char* name;
        int port;
        const char* settings;
        bool busy;
        bool other_link_open;
        const char* error;  // empty: opens
    };
    const std::vector<row> rows = {
        {"COM 1", 1, "9600,n,8,1", false, false, ""},
        {"COM 2 is missing", 2, "9600,n,8,1", false, false, "COM2: no such device"},
        {"held by another application", 1, "9600,n,8,1", true, false, "COM1: in use by another application"},
        {"held by the other link", 1, "9600,n,8,1", false, true, "COM1: in use by another application"},
        {"malformed settings", 1, "9600,x,8,1", false, false, "COM1: malformed settings \"9600,x,8,1\""},
    };
    for (const auto& r : rows) {
        sim_board board;
        board.set_port_busy(r.busy);
        host other(board);
        ASSERT_TRUE(!r.other_link_open || other.link->open());
        host h(board, r.port);
        h.link->set_settings(r.settings);
        EXPECT_EQ(h.link->open(), std::string(r.error).empty()) << r.name;
        EXPECT_EQ(h.link->error_text(), r.error) << r.name;
    }
}

// Each handler writes the next part, as the bring-up does; its answer comes
// only after the handler has returned.
TEST(sim_board, one_notification_per_write_of_the_chip_and_only_when_pumped)
{
    sim_board board;
    host h(board);
    ASSERT_TRUE(h.link->open());
    h.on_read = [&](const std::string& read) {
        if (read == "D5") h.link->write(first_loader_bytes());
        if (read == "22") h.link->write(main_program_bytes());
        if (read == "11") h.link->write(bytes_of("40 40"));
    };
    h.link->write(zero_byte);
    EXPECT_TRUE(h.reads.empty());
    board.pump();
    EXPECT_EQ(h.reads, (std::vector<std::string>{"D5", "22", "11", "00", "10", "80", "88"}));
    EXPECT_EQ(board.now_ms(), 0);
}

TEST(sim_board, timers_tick_on_the_manual_clock_in_time_order_with_the_chip)
{
    sim_board board({.timing = {.line_rate = 2400}});  // the identification byte is back after 9 ms
    host h(board);
    ASSERT_TRUE(h.link->open());
    std::vector<std::string> events;
    h.on_read = [&](const std::string& read) { events.push_back("read " + read); };
    auto early = board.platform().make_timer();
    auto late = board.platform().make_timer();
    early->set_tick_callback([&] { events.push_back("early"); });
    late->set_tick_callback([&] {
        events.push_back("late");
        late->stop();
    });
    early->start(5);
    late->start(12);
    h.link->write(zero_byte);
    board.run_for(11);
    EXPECT_EQ(events, (std::vector<std::string>{"early", "read D5", "early"}));
    early->stop();
    late->start(12);  // a restart begins a full period
    board.run_for(11);
    EXPECT_EQ(events.size(), 3u);
    board.run_for(100);
    EXPECT_EQ(events, (std::vector<std::string>{"early", "read D5", "early", "late"}));
}

// As on a blocked UI thread: no notification, and the ticks missed come as one.
TEST(sim_board, polls_move_the_clock_without_notifications_or_ticks)
{
    sim_board board({.timing = {.erase_ms = 500}});
    bring_up(board.chip());
    host h(board);
    ASSERT_TRUE(h.link->open());
    h.link->set_threshold(0);
    auto timer = board.platform().make_timer();
    int ticks = 0;
    timer->set_tick_callback([&] { ++ticks; });
    timer->start(10);
    h.link->write(bytes_of("20 21"));
    std::string answer;
    int polls = 0;
    while (answer.size() < 2 && polls < 1000) {
        if (h.link->wait_for_data(1))
            answer += h.link->read_all();
        else
            ++polls;
    }
    EXPECT_EQ(hex_of(answer), "BF 88");
    EXPECT_EQ(polls, 499);
    EXPECT_EQ(board.now_ms(), 500);
    EXPECT_EQ(ticks, 0);
    board.pump();
    EXPECT_EQ(ticks, 1);
    EXPECT_TRUE(h.reads.empty());
}

TEST(sim_board, answers_reach_only_an_open_link_and_a_dead_line_takes_no_writes)
{
    sim_board board({.faults = {{.kind = exchange_kind::status, .drop = true}}});
    host bootstrap_link(board);
    host command_link(board);
    ASSERT_TRUE(bootstrap_link.link->open());
    bootstrap_link.link->write(zero_byte + first_loader_bytes());
    bootstrap_link.link->close();
    board.run_for(10);  // the identification and acknowledge bytes find no open port
    ASSERT_TRUE(command_link.link->open());
    EXPECT_FALSE(bootstrap_link.link->write("x"));
    command_link.link->write(main_program_bytes());
    board.run_for(10);
    EXPECT_TRUE(command_link.link->write(bytes_of("40 40")));
    board.run_for(10);
    EXPECT_TRUE(bootstrap_link.reads.empty());
    EXPECT_EQ(command_link.reads, (std::vector<std::string>{"11"}));
    EXPECT_FALSE(command_link.link->write(bytes_of("40 40")));
    EXPECT_EQ(command_link.link->error_text(), "COM1: the line is dead");
    EXPECT_FALSE(command_link.link->wait_for_data(10));
}

}  // namespace
