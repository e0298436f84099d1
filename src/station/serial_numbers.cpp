#include "station/serial_numbers.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>

#include "core/hex_text.h"
#include "core/message_log.h"
#include "programming/block_layout.h"
#include "programming/block_record.h"
#include "programming/text_file.h"
#include "station/ledger.h"

namespace fernwick::station {

namespace {

constexpr const char* k_format_names[] = {"le", "be", "bcd", "ascii"};

std::string_view format_name(serial_format f) { return k_format_names[static_cast<int>(f)]; }

int most_bytes(serial_format f) { return f == serial_format::ascii ? 20 : 8; }

bool hex_digits(std::string_view v)
{
    return !v.empty() &&
           std::all_of(v.begin(), v.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

// A flash address as the operator writes it: marked as hex by 0x or h,
// linear (2FFF0h) or as segment and offset (02'FFF0h).
std::optional<long> read_address(std::string_view t)
{
    if (t.size() > 2 && (t.starts_with("0x") || t.starts_with("0X")))
        t.remove_prefix(2);
    else if (t.size() > 1 && (t.back() == 'h' || t.back() == 'H'))
        t.remove_suffix(1);
    else
        return std::nullopt;
    const auto value = [](std::string_view v, std::size_t most) -> std::optional<long> {
        if (!hex_digits(v) || v.size() > most) return std::nullopt;
        return std::stol(std::string(v), nullptr, 16);
    };
    const auto tick = t.find('\'');
    if (tick == std::string_view::npos) return value(t, 6);
    const auto segment = value(t.substr(0, tick), 2);
    const auto offset = value(t.substr(tick + 1), 4);
    if (!segment || !offset) return std::nullopt;
    return *segment * 0x10000 + *offset;
}

// ADDR:BYTES[:FORMAT] into `c`; the reason when it is not.
std::string read_place(const std::string& text, serial_choice& c)
{
    std::vector<std::string> parts;
    for (std::size_t from = 0;;) {
        const auto colon = text.find(':', from);
        parts.push_back(text.substr(from, colon - from));
        if (colon == std::string::npos) break;
        from = colon + 1;
    }
    if (parts.size() < 2 || parts.size() > 3)
        return "takes ADDR:BYTES[:FORMAT], e.g. 2FFF0h:4, 0x2FFF0:4:be or 02'FFF0h:4:bcd";
    const auto address = read_address(parts[0]);
    if (!address) return "the address " + parts[0] + " is no hex address such as 2FFF0h, 0x2FFF0 or 02'FFF0h";
    if (parts.size() == 3) {
        const auto* name = std::find(std::begin(k_format_names), std::end(k_format_names), parts[2]);
        if (name == std::end(k_format_names)) return "FORMAT takes le, be, bcd or ascii";
        c.format = static_cast<serial_format>(name - std::begin(k_format_names));
    }
    const auto& b = parts[1];
    const bool digits =
        !b.empty() && b.size() <= 2 && std::all_of(b.begin(), b.end(), [](char ch) { return ch >= '0' && ch <= '9'; });
    const int bytes = digits ? std::stoi(b) : 0;
    if (bytes < 1 || bytes > most_bytes(c.format))
        return "BYTES takes 1 to " + std::to_string(most_bytes(c.format)) + " for " +
               std::string(format_name(c.format));
    c.address = *address;
    c.bytes = bytes;
    c.on = true;
    return {};
}

std::optional<std::uint64_t> whole(const std::string& v)
{
    std::uint64_t n = 0;
    const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (v.empty() || error != std::errc{} || end != v.data() + v.size()) return std::nullopt;
    return n;
}

// Digits alone, as whole_number() in the options has them, but up to the
// 64 bits a number may take.
CLI::Validator whole_from(std::uint64_t lowest)
{
    return CLI::Validator(
        [lowest](std::string& v) {
            const auto n = v.empty() || v[0] == '+' ? std::nullopt : whole(v);
            return n && *n >= lowest ? std::string()
                                     : "takes a whole number from " + std::to_string(lowest) + " to " +
                                           std::to_string(std::numeric_limits<std::uint64_t>::max());
        },
        "");
}

std::optional<std::uint64_t> number_at(const serial_choice& c, std::uint64_t index)
{
    std::uint64_t n = 0;
    if (__builtin_mul_overflow(index, c.step, &n) || __builtin_add_overflow(n, c.start, &n)) return std::nullopt;
    return n;
}

std::optional<std::vector<std::uint8_t>> encoded(std::uint64_t n, serial_format f, int bytes)
{
    const auto size = static_cast<std::size_t>(bytes);
    std::vector<std::uint8_t> out(size);
    if (f == serial_format::le || f == serial_format::be) {
        if (bytes < 8 && (n >> (8 * bytes)) != 0) return std::nullopt;
        for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>(n >> (8 * i));
        if (f == serial_format::be) std::reverse(out.begin(), out.end());
        return out;
    }
    // Decimal digits, the most significant at the lowest address.
    const auto width = f == serial_format::bcd ? 2 * size : size;
    auto digits = std::to_string(n);
    if (digits.size() > width) return std::nullopt;
    digits.insert(0, width - digits.size(), '0');
    for (std::size_t i = 0; i < size; ++i)
        out[i] = f == serial_format::ascii
                     ? static_cast<std::uint8_t>(digits[i])
                     : static_cast<std::uint8_t>((digits[2 * i] - '0') << 4 | (digits[2 * i + 1] - '0'));
    return out;
}

std::string address_text(long linear)
{
    return programming::flash_address(static_cast<int>(linear >> 16), static_cast<int>(linear & 0xFFFF));
}

int sector_of(long linear, int sector0_segment)
{
    for (int n = 0; n < 4; ++n) {
        const auto r = programming::sector_range(n, sector0_segment);
        const long base = r.segment * 0x10000L;
        if (linear >= base + r.first && linear < base + r.end) return n;
    }
    return -1;
}

// The first byte the file gives at first..last that may not stay there.
std::optional<std::string> file_byte_in(const programming::hex_records& hex, long first, long last,
                                        std::optional<int> over)
{
    for (const auto& r : hex.records) {
        if (r.after_end || r.segment == programming::k_no_segment) continue;
        const long start = r.segment * 0x10000L + r.offset;
        for (long at = std::max(first, start); at <= std::min(last, start + r.length - 1); ++at) {
            const auto digits = hex.data_of(r).substr(static_cast<std::size_t>(at - start) * 2, 2);
            const int byte = std::stoi(std::string(digits), nullptr, 16);
            if (over && byte == *over) continue;
            return address_text(at) + " (line " + std::to_string(r.line) + ") the byte " + core::hex2(byte) + "h";
        }
    }
    return std::nullopt;
}

}  // namespace

void add_serial_options(CLI::App& command, serial_choice& c)
{
    auto* place =
        command
            .add_option_function<std::string>(
                "--serial", [&c](const std::string& v) { read_place(v, c); },
                "write a serial number of its own into each board's flash at ADDR (hex: 2FFF0h, 0x2FFF0 or "
                "02'FFF0h), BYTES long, as FORMAT: le (default) or be, binary (1 to 8 bytes); bcd, two decimal "
                "digits a byte (1 to 8); ascii, decimal digits padded with zeros (1 to 20). The place must lie in "
                "one sector the run programs, clear of the bootstrap loader code, where FILE gives no byte (see "
                "--serial-over). A board "
                "keeps its number only when it passed; else the number goes to the next board")
            ->type_name("ADDR:BYTES[:FORMAT]")
            ->check(CLI::Validator(
                [](std::string& v) {
                    serial_choice probe;
                    return read_place(v, probe);
                },
                ""));
    auto* start = command
                      .add_option_function<std::string>(
                          "--serial-start", [&c](const std::string& v) { c.start = *whole(v); },
                          "the first board's serial number (default 1)")
                      ->type_name("N")
                      ->check(whole_from(0));
    auto* step = command
                     .add_option_function<std::string>(
                         "--serial-step", [&c](const std::string& v) { c.step = *whole(v); },
                         "from one board's serial number to the next (default 1)")
                     ->type_name("N")
                     ->check(whole_from(1));
    auto* list = command
                     .add_option("--serial-list", c.list_file,
                                 "take the serial numbers from FILE, one a line as BYTES hex bytes written as they "
                                 "stand (00:1A:2B:3C, 00-1A-2B-3C or 001A2B3C; FORMAT does not apply); blank lines "
                                 "and # comments are skipped, and a value listed twice refuses the list")
                     ->type_name("FILE");
    auto* over =
        command
            .add_option_function<std::string>(
                "--serial-over", [&c](const std::string& v) { c.over = v == "00" ? 0x00 : 0xFF; },
                "let FILE give this byte where the serial number goes (the filler of its gaps): ff or 00")
            ->type_name("ff|00")
            ->check(CLI::Validator(
                [](std::string& v) { return v == "ff" || v == "FF" || v == "00" ? "" : "takes ff or 00"; }, ""));
    command.parse_complete_callback([=] {
        for (const auto* o : {start, step, list, over})
            if (o->count() > 0 && place->count() == 0)
                throw CLI::ValidationError(o->get_name() +
                                           " goes with --serial ADDR:BYTES, which says where the number is written");
        if (list->count() > 0 && start->count() + step->count() > 0)
            throw CLI::ValidationError(
                "--serial-list gives the numbers itself: it goes without --serial-start and --serial-step");
    });
}

std::string read_serial_place(const std::string& text, serial_choice& c) { return read_place(text, c); }

std::string serial_format_name(serial_format f) { return std::string(format_name(f)); }

std::string serial_place_text(const serial_choice& c)
{
    const auto first = address_text(c.address);
    return c.bytes > 1 ? first + "-" + address_text(c.address + c.bytes - 1) : first;
}

std::string serial_bytes_text(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    for (const auto b : bytes) text += (text.empty() ? "" : ":") + core::hex2(b);
    return text;
}

std::optional<std::pair<std::string, std::string>> recorded_number(const std::string& series, const std::string& text)
{
    const auto at = series.rfind(" at ");
    if (at == std::string::npos) return std::nullopt;
    const auto place = series.substr(at + 4);
    const auto dash = place.find('-');
    const auto first = read_address(place.substr(0, dash));
    const auto last = dash == std::string::npos ? first : read_address(place.substr(dash + 1));
    if (!first || !last || *last < *first || *last - *first >= most_bytes(serial_format::ascii)) return std::nullopt;
    if (series.starts_with("list ")) return std::pair(place, text);
    const auto as = series.rfind(" as ", at);
    const auto n = whole(text);
    if (!series.starts_with("numbers from ") || as == std::string::npos || !n) return std::nullopt;
    const auto* name =
        std::find(std::begin(k_format_names), std::end(k_format_names), series.substr(as + 4, at - as - 4));
    if (name == std::end(k_format_names)) return std::nullopt;
    const auto bytes = encoded(*n, static_cast<serial_format>(name - std::begin(k_format_names)),
                               static_cast<int>(*last - *first + 1));
    if (!bytes) return std::nullopt;
    return std::pair(place, serial_bytes_text(*bytes));
}

std::optional<serial_list> read_serial_list(const serial_choice& c, std::string& why)
{
    // Read as the hex file is: a FIFO or a device at its name would hold the run forever.
    const auto file = programming::read_text_file(c.list_file);
    if (!file.text) {
        why = "the serial list " + c.list_file + " cannot be read: " + file.reason;
        return std::nullopt;
    }
    std::istringstream in(*file.text);
    serial_list list;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line = line.substr(0, line.find('#'));
        std::string digits;
        for (const char ch : line)
            if (ch != ':' && ch != '-' && !std::isspace(static_cast<unsigned char>(ch))) digits += ch;
        if (digits.empty()) continue;
        const auto at = c.list_file + " line " + std::to_string(number);
        if (!hex_digits(digits) || digits.size() != 2 * static_cast<std::size_t>(c.bytes)) {
            why = at + ": takes " + std::to_string(c.bytes) + " hex bytes such as " +
                  serial_bytes_text(std::vector<std::uint8_t>(static_cast<std::size_t>(c.bytes), 0x1A));
            return std::nullopt;
        }
        std::vector<std::uint8_t> value;
        for (std::size_t i = 0; i < digits.size(); i += 2)
            value.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
        if (std::find(list.begin(), list.end(), value) != list.end()) {
            why = at + ": " + serial_bytes_text(value) + " is listed before";
            return std::nullopt;
        }
        list.push_back(std::move(value));
    }
    if (list.empty()) why = "the serial list " + c.list_file + " holds no value";
    return list.empty() ? std::nullopt : std::optional(std::move(list));
}

std::optional<serial_value> serial_number_at(const serial_choice& c, const serial_list& list, std::uint64_t index)
{
    if (!c.list_file.empty()) {
        if (index >= list.size()) return std::nullopt;
        return serial_value{index, serial_bytes_text(list[index]), list[index]};
    }
    const auto n = number_at(c, index);
    auto bytes = n ? encoded(*n, c.format, c.bytes) : std::nullopt;
    if (!bytes) return std::nullopt;
    return serial_value{index, std::to_string(*n), std::move(*bytes)};
}

std::string used_up_text(const serial_choice& c, const serial_list& list, std::uint64_t index)
{
    if (!c.list_file.empty())
        return "the serial list " + c.list_file + " is used up (" + std::to_string(list.size()) +
               (list.size() == 1 ? " value)" : " values)");
    const auto n = number_at(c, index);
    return "the serial numbers are used up: the next, " +
           (n ? std::to_string(*n) : "beyond " + std::to_string(std::numeric_limits<std::uint64_t>::max())) +
           ", does not fit in " + std::to_string(c.bytes) + (c.bytes == 1 ? " byte (" : " bytes (") +
           std::string(format_name(c.format)) + ")";
}

std::optional<std::string> serial_place_fault(const serial_choice& c, const std::array<bool, 4>& sectors,
                                              int bsl_target, int sector0_segment, const programming::hex_records& hex)
{
    const long last = c.address + c.bytes - 1;
    const auto where = "the serial number at " + serial_place_text(c);
    const int sector = sector_of(c.address, sector0_segment);
    const int last_sector = sector_of(last, sector0_segment);
    if (sector < 0 || last_sector < 0)
        return where + " lies outside the flash sectors with sector 0 mapped to segment " +
               std::to_string(sector0_segment);
    if (sector != last_sector)
        return where + " straddles sectors " + std::to_string(sector) + " and " + std::to_string(last_sector) +
               "; it must lie in one sector";
    if (!sectors[static_cast<std::size_t>(sector)])
        return where + " lies in sector " + std::to_string(sector) + ", which this run does not program";
    const auto range = programming::sector_range(sector, sector0_segment);
    if (sector == bsl_target && c.address - range.segment * 0x10000L - range.first < programming::k_bsl_code_end)
        return where + " lies under the bootstrap loader code of sector " + std::to_string(sector) +
               " (its offsets 0000h-005Fh)";
    if (const auto given = file_byte_in(hex, c.address, last, c.over))
        return where + " is not free: the file gives " + *given +
               (c.over ? "" : " (--serial-over allows FFh or 00h there)");
    return std::nullopt;
}

}  // namespace fernwick::station
