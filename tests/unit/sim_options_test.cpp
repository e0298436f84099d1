#include <gtest/gtest.h>

#include <functional>

#include "sim_options.h"

namespace {

using namespace fernwick::sim;

exchange_fault fault(exchange_kind kind, int nth, std::function<void(exchange_fault&)> change)
{
    exchange_fault f;
    f.kind = kind;
    f.nth = nth;
    change(f);
    return f;
}

bool same(const exchange_fault& a, const exchange_fault& b)
{
    return a.kind == b.kind && a.nth == b.nth && a.wrong_checksum == b.wrong_checksum && a.status == b.status &&
           a.silence == b.silence && a.delay_ms == b.delay_ms && a.drop == b.drop;
}

TEST(sim_options, arguments_set_the_board)
{
    struct row {
        std::vector<std::string> args;
        std::function<bool(const sim_options&)> holds;
    };
    const std::vector<row> rows = {
        {{}, [](const auto& o) { return o.chip.id_byte == 0xD5 && o.chip.faults.empty() && !o.help; }},
        {{"--help"}, [](const auto& o) { return o.help; }},
        {{"--link", "/tmp/x", "--dump", "d", "--preload", "p", "--trace", "t"},
         [](const auto& o) {
             return o.link_path == "/tmp/x" && o.dump_path == "d" && o.preload_path == "p" && o.trace_path == "t";
         }},
        {{"--line-rate", "9600", "--erase-ms", "500", "--program-ms", "3"},
         [](const auto& o) {
             return o.chip.timing.line_rate == 9600 && o.chip.timing.erase_ms == 500 && o.chip.timing.program_ms == 3;
         }},
        {{"--id-byte", "c5"}, [](const auto& o) { return o.chip.id_byte == 0xC5; }},
        {{"--sector-status", "2:0A00"},
         [](const auto& o) { return o.chip.sector_status[2] == status_register{0x0A, 0x00}; }},
        {{"--split-answers"}, [](const auto& o) { return o.chip.grouping == answer_grouping::split; }},
        {{"--joined-answers"}, [](const auto& o) { return o.chip.grouping == answer_grouping::joined; }},
        {{"--fault", "id:none"}, [](const auto& o) { return !o.chip.id_byte; }},
        {{"--fault", "echo-zero"}, [](const auto& o) { return o.chip.echo_zero; }},
        {{"--fault", "ack1:none", "--fault", "ack2:wrong"},
         [](const auto& o) { return !o.chip.loader_ack && o.chip.program_ack == 0xEE; }},
        {{"--fault", "ack1:11"}, [](const auto& o) { return o.chip.loader_ack == 0x11; }},
        {{"--fault", "erase:2:status=93"},
         [](const auto& o) {
             return o.chip.faults.size() == 1 &&
                    same(o.chip.faults[0], fault(exchange_kind::erase, 2, [](auto& f) { f.status = 0x93; }));
         }},
        {{"--fault", "block:5:delay=300,checksum,drop", "--fault", "status:1:silence"},
         [](const auto& o) {
             return o.chip.faults.size() == 2 && same(o.chip.faults[0], fault(exchange_kind::block, 5, [](auto& f) {
                        f.delay_ms = 300;
                        f.wrong_checksum = true;
                        f.drop = true;
                    })) && same(o.chip.faults[1], fault(exchange_kind::status, 1, [](auto& f) { f.silence = true; }));
         }},
    };
    for (const auto& r : rows) {
        const auto parsed = parse_options(r.args);
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_TRUE(r.holds(*parsed.options)) << testing::PrintToString(r.args);
    }
}

TEST(sim_options, malformed_arguments_are_refused_with_a_reason)
{
    struct row {
        std::vector<std::string> args;
        const char* error;
    };
    const std::vector<row> rows = {
        {{"--colour"}, "unknown option --colour"},
        {{"--dump"}, "--dump needs a value"},
        {{"--id-byte", "1D5"}, "bad value for --id-byte: 1D5"},
        {{"--line-rate", "fast"}, "bad value for --line-rate: fast"},
        {{"--sector-status", "4:0000"}, "bad value for --sector-status: 4:0000"},
        {{"--fault", "erase:0:drop"}, "bad value for --fault: erase:0:drop"},
        {{"--fault", "erase:1:status=XY"}, "bad value for --fault: erase:1:status=XY"},
        {{"--fault", "write:1:drop"}, "bad value for --fault: write:1:drop"},
        {{"--fault", "block:1:drop,later"}, "bad value for --fault: block:1:drop,later"},
        {{"--fault", "ack3:none"}, "bad value for --fault: ack3:none"},
    };
    for (const auto& r : rows) {
        const auto parsed = parse_options(r.args);
        EXPECT_FALSE(parsed.options) << r.error;
        EXPECT_EQ(parsed.error, r.error);
    }
}

}  // namespace
