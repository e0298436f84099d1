#include <gtest/gtest.h>

#include <tuple>

#include "programming/block_record.h"

namespace {

using namespace fernwick::programming;

TEST(block_record, reads_back_what_it_writes)
{
    const std::string data(128, 'a');
    const auto line = format_block_record({3, 65472, 2, data, "EOB"});
    EXPECT_EQ(line, "3,65472,2,\"" + data + "\",\"EOB\"");
    for (const auto& ending : {"", "\r", "\r\n"}) {
        const auto r = read_block_record(line + ending);
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(std::tuple(r->sector, r->address, r->segment, r->data, r->marker),
                  std::tuple(3, 65472L, 2, data, std::string("EOB")));
    }
    EXPECT_EQ(read_block_record("0,0,0,\"00\",\"EOX\"")->marker, "EOX");  // the caller judges the marker
}

TEST(block_record, unreadable_lines_give_no_record)
{
    const char* const rows[] = {
        "",
        "0,0,0,\"00\"",          // the line ends before the marker
        "0,0,0,\"00\",\"EOB",    // ... inside the marker
        "0,0,0,\"00",            // ... inside the data
        "0,256",                 // ... after the address
        "x,0,0,\"00\",\"EOB\"",  // numbers that are none
        "0,64a,0,\"00\",\"EOB\"",
        "0,,0,\"00\",\"EOB\"",
        "0,99999999999999999999,0,\"00\",\"EOB\"",  // too large
        "0,0,0,00,\"EOB\"",                         // texts without quotes
        "0,0,0,\"00\",\"EOB\",x",                   // more after the marker
        "0,0,0,\"00\"\"EOB\"",                      // no comma between the texts
    };
    for (const char* line : rows) EXPECT_EQ(read_block_record(line), std::nullopt) << line;
}

}  // namespace
