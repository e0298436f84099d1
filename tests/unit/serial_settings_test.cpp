#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <tuple>
#include <utility>

#include "core/modem_lines.h"
#include "core/port_names.h"
#include "core/serial_link.h"

namespace {

using namespace fernwick::core;

TEST(line_time_ms, counts_ten_bits_a_byte_rounded_up)
{
    const std::tuple<std::size_t, int, int> rows[] = {
        {0, 9600, 0}, {1, 9600, 2}, {96, 9600, 100}, {510, 14400, 355}, {1, 19200, 1}, {5, 0, 0},
    };
    for (const auto& [bytes, baud, ms] : rows) EXPECT_EQ(line_time_ms(bytes, baud), ms) << bytes << " at " << baud;
}

// Root runs the tests, so no open is ever refused here: the reason line is built from the group alone. The
// ports a machine has are the system's; the line is built from any list.
TEST(port_advice, says_how_to_open_the_device_or_find_another)
{
    // An adapter's own latency timer, found through a link such as those of /dev/serial/by-id.
    const auto sys = std::filesystem::temp_directory_path() / ("fernwick-sys-" + std::to_string(::getpid()));
    std::filesystem::create_directories(sys / "null");
    std::ofstream(sys / "null" / "latency_timer") << "16\n";
    std::filesystem::create_symlink("/dev/null", sys / "by-id");
    const std::pair<std::string, std::string> rows[] = {
        {latency_timer_file((sys / "by-id").string(), sys.string()), (sys / "null" / "latency_timer").string()},
        {latency_timer_file("/dev/null"), "/sys/bus/usb-serial/devices/ttyUSB*/latency_timer"},
        {with_group_advice("Permission denied", "dialout"),
         "Permission denied (the user must be in the group dialout that owns it: sudo usermod -aG dialout "
         "$USER, then log in again)"},
        {with_group_advice("Permission denied", "root"), "Permission denied"},
        {with_port_list("No such file or directory", {"/dev/ttyS0", "/dev/ttyUSB0"}, 2),
         "No such file or directory; the serial ports here are /dev/ttyS0, /dev/ttyUSB0: choose one with "
         "FERNWICK_COM2=/dev/ttyUSB0 (or fernwick-cli --device /dev/ttyUSB0)"},
        {with_port_list("No such file or directory", {}, 1),
         "No such file or directory; no serial port found here: plug in the adapter, then choose it with "
         "FERNWICK_COM1=/dev/ttyUSB0 (or fernwick-cli --device /dev/ttyUSB0)"},
        // The windows have no command line to give --device on.
        {with_port_list("No such file or directory", {"/dev/ttyS0", "/dev/ttyUSB0"}, 2, true),
         "No such file or directory; the serial ports here are /dev/ttyS0, /dev/ttyUSB0: choose one with "
         "FERNWICK_COM2=/dev/ttyUSB0 when starting Fernwick"},
    };
    for (const auto& [got, want] : rows) EXPECT_EQ(got, want);
    std::filesystem::remove_all(sys);
}

// A sequence reads back as its steps; a wrong one names its step by position.
TEST(modem_sequence, reads_wirings_and_steps_and_names_the_step_at_fault)
{
    const std::string steps = " (dtr=0|1, rts=0|1, both=DTR,RTS or wait=MS)";
    const std::tuple<const char*, bool, std::string> rows[] = {
        {" dtr=1, both=0,1 ,wait=020,rts=0", false, "dtr=1,both=0,1,wait=20,rts=0 20"},
        {"reset-rts-boot-dtr-inverted", true, "reset-rts-boot-dtr-inverted (dtr=1,rts=0,wait=100,rts=1) 100"},
        {"reset-rts-boot-jumper", true,
         "reset-rts-boot-jumper has no exit sequence: its jumper holds the bootstrap pin"},
        {"dtr=1,rts=2", false, "step 2 'rts=2': rts takes 0 or 1"},
        {"rts=1,dtr", false, "step 2 'dtr': dtr takes 0 or 1"},
        {"both=1,wait=5", false, "step 1 'both=1,wait=5': both takes the levels of DTR and RTS, e.g. both=1,0"},
        {"rts=0,both=1", false, "step 2 'both=1': both takes the levels of DTR and RTS, e.g. both=1,0"},
        {"dtr=1,,rts=0", false, "step 2 is empty"},
        {"wait=10,wait=10001", false, "step 2 'wait=10001': wait takes 0 to 10000 ms"},
        {"wait=-1", false, "step 1 'wait=-1': wait takes 0 to 10000 ms"},
        {"rts=1,DTR=1", false, "step 2 'DTR=1': not a step" + steps},
        {"jumper", false,
         "'jumper' is neither a wiring (reset-rts-boot-dtr, reset-rts-boot-dtr-inverted, reset-rts-boot-jumper) nor a "
         "step" +
             steps},
    };
    for (const auto& [text, exit, want] : rows) {
        std::string why;
        const auto read = parse_modem_sequence(text, exit, why);
        EXPECT_EQ(read ? sequence_text(*read) + " " + std::to_string(read->wait_ms()) : why, want) << text;
    }
}

}  // namespace
