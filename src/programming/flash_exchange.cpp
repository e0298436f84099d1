#include "programming/flash_exchange.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "command/reply_engine.h"
#include "core/hex_text.h"
#include "core/protocol.h"

namespace fernwick::programming {

using core::app_state;

namespace {

constexpr std::uint8_t k_erase_command = protocol::erase_command;
constexpr std::uint8_t k_block_command = protocol::block_command;
constexpr std::uint8_t k_done = protocol::done;
constexpr int k_keep_alive_ms = 50;  // the window's progress while an answer is awaited

constexpr std::size_t k_answer_bytes = 2;  // checksum and status
constexpr int k_bits_per_byte = 10;        // start bit, 8 data bits, stop bit

// The checksum answer makes the sum of everything written a multiple of
// 256; for a sum that already is one the chip answers 00h.
std::uint8_t expected_checksum(unsigned sum) { return static_cast<std::uint8_t>(256 - sum % 256); }

// No byte came: the device went away, or the chip stayed silent.
exchange_failure lost(const app_state& s, core::byte_string got)
{
    const auto& com = *s.mainform.COM;
    if (com.gone()) return {false, core::gone_lines(com), std::move(got), true};
    return {true, {}, std::move(got)};
}

exchange_result read_answers(answer_reader& reader, const app_state& s)
{
    core::byte_string got;
    const auto checksum = reader.next();
    if (!checksum) return lost(s, got);
    got += char(*checksum);
    if (*checksum != reader.last_written().checksum)
        return exchange_failure{false, {"     A Checksum Error occured ! "}, got};
    const auto status = reader.next();
    if (!status) return lost(s, got);
    got += char(*status);
    if (*status != k_done) return exchange_failure{false, {status_message(*status)}, got, false, true};
    return std::nullopt;
}

exchange_failure stray_failure(const core::byte_string& stray)
{
    return {false,
            {"     I received the unexpected Byte : 0x" + core::hex2(static_cast<std::uint8_t>(stray[0])),
             "     I wasn't waiting for any byte ! "},
            stray};
}

exchange_result unclaimed_bytes(answer_reader& reader)
{
    const auto stray = reader.unclaimed();
    if (stray.empty()) return std::nullopt;
    return stray_failure(stray);
}

// The block's line time both ways and the chip's time: when its answer was due.
void note_answer_delay(app_state& s, std::size_t bytes_out)
{
    const int baud = std::atoi(s.baud_rate.c_str());
    if (baud <= 0) return;
    const double line_ms = static_cast<double>(bytes_out + k_answer_bytes) * k_bits_per_byte * 1000 / baud;
    s.mainform.COM->answer_taken(line_ms + k_program_ms);
}

// Writes the bytes; a failure at once when the port refuses them, rather than
// a time-out seconds later.
exchange_result send(app_state& s, const core::byte_string& bytes)
{
    auto& com = *s.mainform.COM;
    if (com.write(bytes)) return std::nullopt;
    return exchange_failure{false, core::send_failure_lines(com), {}, com.gone()};
}

}  // namespace

bool wait_for_byte(app_state& s)
{
    auto& com = *s.mainform.COM;
    // Each wait sleeps in the kernel until a byte comes or its slice ends, so
    // a board costs no processor time while the chip works.
    for (int waited = 0; waited < k_answer_patience_ms; waited += k_keep_alive_ms) {
        if (com.wait_for_data(k_keep_alive_ms)) return true;
        if (com.gone()) return false;
        s.keep_alive_now();
    }
    return false;
}

void answer_reader::written(const written_command& c)
{
    last_ = c;
    first_awaited_ = true;
    // Taken before this command's answer counts: a copy of an earlier answer
    // that passes for it comes early and would pull the measure down.
    run_late_ms_ = static_cast<int>(std::ceil(s_.mainform.COM->answer_delay_ms().value_or(0)));
}

std::optional<std::uint8_t> answer_reader::next()
{
    if (taken_ == waiting_.size()) {
        if (!wait_for_byte(s_)) return std::nullopt;
        waiting_ = s_.mainform.COM->read_all();
        taken_ = 0;
        if (waiting_.empty()) return std::nullopt;
        if (first_awaited_) {
            const int baud = std::atoi(s_.baud_rate.c_str());
            const int due = core::line_time_ms(last_.bytes + 1, baud) + last_.chip_ms;
            most_late_ms_ = std::max(most_late_ms_, s_.mainform.COM->ms_since_write() - due);
        }
    }
    first_awaited_ = false;
    return static_cast<std::uint8_t>(waiting_[taken_++]);
}

core::byte_string answer_reader::unclaimed(int settle_ms)
{
    auto stray = waiting_.substr(taken_);
    waiting_.clear();
    taken_ = 0;
    auto& com = *s_.mainform.COM;
    if (stray.empty() && settle_ms > 0) com.wait_for_data(settle_ms);
    if (com.pending() > 0) stray += com.read_all();
    return stray;
}

exchange_result erase_sector(answer_reader& reader, app_state& s, int sector)
{
    if (auto stray = unclaimed_bytes(reader)) return stray;
    const core::byte_string command{char(k_erase_command), char(k_erase_command + sector)};
    if (auto refused = send(s, command)) return refused;
    reader.written(
        {expected_checksum(k_erase_command * 2u + static_cast<unsigned>(sector)), command.size(), k_erase_ms});
    return read_answers(reader, s);
}

exchange_result program_block(answer_reader& reader, app_state& s, int segment, long address, const block_bytes& bytes)
{
    if (auto stray = unclaimed_bytes(reader)) return stray;
    core::byte_string command{char(k_block_command), char(segment), char(address / 256), char(address % 256)};
    command.append(bytes.begin(), bytes.end());
    if (auto refused = send(s, command)) return refused;
    unsigned sum = 0;
    for (const char c : command) sum += static_cast<std::uint8_t>(c);
    reader.written({expected_checksum(sum), command.size(), k_program_ms});
    auto answer = read_answers(reader, s);
    if (!answer) note_answer_delay(s, command.size());
    return answer;
}

exchange_result settle(answer_reader& reader, app_state& s)
{
    const auto& com = *s.mainform.COM;
    const auto& last = reader.last_written();
    const int baud = std::atoi(s.baud_rate.c_str());
    const int window =
        core::line_time_ms(last.bytes + k_answer_bytes, baud) + last.chip_ms + reader.latency_ms() + k_settle_ms;
    auto stray = reader.unclaimed(std::max(window - com.ms_since_write(), k_settle_ms));
    if (stray.empty()) {
        if (com.gone()) return lost(s, {});
        return std::nullopt;
    }
    // The chip's own answer to the last command, late behind a copy of an
    // earlier answer that passed for it: its status byte says what went wrong.
    if (static_cast<std::uint8_t>(stray[0]) == last.checksum) {
        if (stray.size() == 1)
            stray += reader.unclaimed(last.chip_ms + core::line_time_ms(1, baud) + reader.latency_ms() + k_settle_ms);
        const auto status = static_cast<std::uint8_t>(stray.size() > 1 ? stray[1] : k_done);
        if (status != k_done) return exchange_failure{false, {status_message(status)}, stray};
    }
    return stray_failure(stray);
}

bool reset_after_failure(app_state& s)
{
    answer_reader reader(s);
    // A byte still on its way would say the program is not where the failure left it.
    if (!s.mainform.COM->is_open() || !reader.unclaimed(k_settle_ms).empty()) return false;
    if (send(s, core::byte_string(1, char(protocol::reset_command)))) return false;
    reader.written({protocol::reset_ack, 1, 0});
    const auto answer = reader.next();
    return answer == protocol::reset_ack && reader.unclaimed(k_settle_ms).empty();
}

std::string status_message(std::uint8_t status)
{
    switch (status) {
    case protocol::command_error: return "     A Command Error occured ! ";
    case protocol::timeout_error: return "     A TimeOut Error occured ! ";
    case protocol::flag_error: return "     A Flag Error occured ! ";
    case protocol::operand_error: return "     A Operand Error occured ! ";
    default: return "     A unknown status Error byte was received ! ";
    }
}

void report_flash_failure(app_state& s, std::vector<std::string> lines)
{
    s.flash_error = core::k_true;
    if (s.run.code.known) lines.push_back(code_location_line(s.run.code));
    core::error_block_with_restart(s, std::move(lines));
}

std::string code_location_line(const core::code_location& code)
{
    if (code.in_0 && code.in_2) return "     The Bootstrap Loader Code now lies in Sector 0 and in Sector 2 !";
    if (code.in_0 || code.in_2) {
        const std::string sector = code.in_0 ? "0" : "2";
        return code.in(code.given) ? "     The Bootstrap Loader Code still lies in Sector " + sector + " !"
                                   : "     The Bootstrap Loader Code now lies only in Sector " + sector + " !";
    }
    return code.given == core::k_nowhere ? "     There is still no Bootstrap Loader Code in the flash !"
                                         : "     No Bootstrap Loader Code is left in the flash !";
}

std::optional<block_bytes> decode_block(std::string_view hex)
{
    block_bytes bytes{};
    if (hex.size() < 2 * bytes.size()) return std::nullopt;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const int hi = core::hex_digit_value(hex[2 * i]);
        const int lo = core::hex_digit_value(hex[2 * i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        bytes[i] = static_cast<std::uint8_t>(hi * 16 + lo);
    }
    return bytes;
}

}  // namespace fernwick::programming
