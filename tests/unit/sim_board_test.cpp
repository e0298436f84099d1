#include <gtest/gtest.h>

#include "bootstrap/loader_images.h"
#include "sim_link.h"
#include "support_chip.h"

namespace {

using namespace fernwick::sim;
using namespace fernwick::sim::testing;
using fernwick::core::serial_link;
using fernwick::core::ui_timer;

// A link on the board whose notifications log what their handler read.
struct host {
    explicit host(sim_board& board, int port = 1) : link(board.platform().make_link())
    {
        link->set_comm_port(port);
        link->set_receive_callback([this](int event) {
            EXPECT_EQ(depth++, 0) << "notification inside another handler";
            EXPECT_EQ(event, 2);
            reads.push_back(hex_of(link->read_all()));
            if (on_read) on_read();
            --depth;
        });
    }
    std::unique_ptr<serial_link> link;
    std::vector<std::string> reads;
    std::function<void()> on_read;
    int depth = 0;
};

// The bring-up through the link, its answers read and forgotten.
void bring_up_over_link(sim_board& board, host& h)
{
    ASSERT_TRUE(h.link->open());
    h.link->write(std::string(1, '\0') + fernwick::bootstrap::first_loader_bytes() +
                  fernwick::bootstrap::main_program_bytes());
    board.run_for(100);
    h.reads.clear();
}

chip_config grouped(answer_grouping grouping)
{
    chip_config config;
    config.grouping = grouping;
    return config;
}

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
        if (r.other_link_open) {
            ASSERT_TRUE(other.link->open());
        }
        host h(board, r.port);
        h.link->set_settings(r.settings);
        EXPECT_EQ(h.link->open(), std::string(r.error).empty()) << r.name;
        EXPECT_EQ(h.link->error_text(), r.error) << r.name;
    }
}

TEST(sim_board, one_notification_per_write_of_the_chip_and_only_when_pumped)
{
    struct row {
        answer_grouping grouping;
        std::vector<std::string> reads;
    };
    const std::vector<row> rows = {
        {answer_grouping::natural, {"00", "10", "80", "88"}},
        {answer_grouping::split, {"00", "10", "80", "88"}},
        {answer_grouping::joined, {"00 10 80 88"}},
    };
    for (const auto& r : rows) {
        sim_board board(grouped(r.grouping));
        host h(board);
        bring_up_over_link(board, h);
        h.link->write(bytes_of("40 40"));
        EXPECT_TRUE(h.reads.empty());
        board.run_for(100);
        EXPECT_EQ(h.reads, r.reads);
    }
}

TEST(sim_board, a_handler_that_writes_sees_the_answer_only_after_it_returns)
{
    sim_board board;
    host h(board);
    ASSERT_TRUE(h.link->open());
    h.on_read = [&] {
        if (h.reads.back() == "D5") h.link->write(fernwick::bootstrap::first_loader_bytes());
        if (h.reads.back() == "22") h.link->write(fernwick::bootstrap::main_program_bytes());
    };
    h.link->write(std::string(1, '\0'));
    board.pump();
    EXPECT_EQ(h.reads, (std::vector<std::string>{"D5", "22", "11"}));
    EXPECT_EQ(board.now_ms(), 0);
}

TEST(sim_board, without_threshold_the_polls_move_the_clock)
{
    chip_config config;
    config.timing.erase_ms = 500;
    sim_board board(config);
    bring_up(board.chip());
    host h(board);
    ASSERT_TRUE(h.link->open());
    h.link->set_threshold(0);
    h.link->write(bytes_of("20 21"));
    std::string answers;
    int polls = 0;
    while (answers.size() < 2 && polls < 10000) {
        if (h.link->wait_for_data(1))
            answers += h.link->read_all();
        else
            ++polls;
    }
    EXPECT_EQ(hex_of(answers), "BF 88");
    EXPECT_EQ(polls, 499);
    EXPECT_EQ(board.now_ms(), 500);
    board.run_for(10);
    EXPECT_TRUE(h.reads.empty());
}

TEST(sim_board, timers_tick_on_the_manual_clock_in_time_order_with_the_chip)
{
    chip_config config;
    config.timing.line_rate = 2400;  // the identification byte is back after 9 ms
    sim_board board(config);
    host h(board);
    ASSERT_TRUE(h.link->open());
    std::vector<std::string> events;
    h.on_read = [&] { events.push_back("read " + h.reads.back()); };
    auto early = board.platform().make_timer();
    auto late = board.platform().make_timer();
    early->set_tick_callback([&] { events.push_back("early"); });
    late->set_tick_callback([&] {
        events.push_back("late");
        late->stop();
    });
    early->start(5);
    late->start(12);
    h.link->write(std::string(1, '\0'));
    board.run_for(11);
    EXPECT_EQ(events, (std::vector<std::string>{"early", "read D5", "early"}));
    early->stop();
    board.run_for(100);
    EXPECT_EQ(events, (std::vector<std::string>{"early", "read D5", "early", "late"}));
}

TEST(sim_board, a_restarted_timer_begins_a_full_period)
{
    sim_board board;
    auto timer = board.platform().make_timer();
    int ticks = 0;
    timer->set_tick_callback([&] { ++ticks; });
    timer->start(2000);
    board.run_for(1500);
    timer->start(2000);
    board.run_for(1999);
    EXPECT_EQ(ticks, 0);
    board.run_for(1);
    EXPECT_EQ(ticks, 1);
}

TEST(sim_board, ticks_missed_while_polling_come_once_at_the_next_pump)
{
    sim_board board;
    bring_up(board.chip());
    host h(board);
    ASSERT_TRUE(h.link->open());
    auto timer = board.platform().make_timer();
    int ticks = 0;
    timer->set_tick_callback([&] { ++ticks; });
    timer->start(10);
    for (int i = 0; i < 100; ++i) h.link->wait_for_data(1);
    EXPECT_EQ(ticks, 0);
    board.pump();
    EXPECT_EQ(ticks, 1);
}

TEST(sim_board, both_links_reach_the_same_chip_only_while_open)
{
    sim_board board;
    host bootstrap_link(board);
    host command_link(board);
    ASSERT_TRUE(bootstrap_link.link->open());
    bootstrap_link.link->write(std::string(1, '\0') + fernwick::bootstrap::first_loader_bytes());
    bootstrap_link.link->close();
    board.run_for(10);  // the identification and acknowledge bytes find no open port
    EXPECT_TRUE(bootstrap_link.reads.empty());
    ASSERT_TRUE(command_link.link->open());
    EXPECT_FALSE(bootstrap_link.link->write("x"));
    command_link.link->write(fernwick::bootstrap::main_program_bytes());
    board.run_for(10);
    EXPECT_EQ(command_link.reads, (std::vector<std::string>{"11"}));
    EXPECT_EQ(board.chip().phase(), chip_phase::resident);
    EXPECT_EQ(board.received().size(), 1 + 32 + 510u);
}

TEST(sim_board, a_dropped_link_takes_no_writes)
{
    exchange_fault drop;
    drop.kind = exchange_kind::status;
    drop.drop = true;
    chip_config config;
    config.faults = {drop};
    sim_board board(config);
    bring_up(board.chip());
    host h(board);
    ASSERT_TRUE(h.link->open());
    EXPECT_TRUE(h.link->write(bytes_of("40 40")));
    board.run_for(10);
    EXPECT_TRUE(h.reads.empty());
    EXPECT_FALSE(h.link->write(bytes_of("40 40")));
    EXPECT_EQ(h.link->error_text(), "COM1: the line is dead");
    EXPECT_FALSE(h.link->wait_for_data(10));
}

}  // namespace
