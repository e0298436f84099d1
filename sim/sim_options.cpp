#include "sim_options.h"

#include <charconv>
#include <functional>
#include <map>
#include <string_view>

namespace fernwick::sim {
namespace {

std::optional<int> number(std::string_view text, int base = 10)
{
    int value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || ec != std::errc{} || ptr != end || value < 0) return std::nullopt;
    return value;
}

std::optional<std::uint8_t> hex_byte(std::string_view text)
{
    if (text.size() > 2) return std::nullopt;
    const auto value = number(text, 16);
    if (!value) return std::nullopt;
    return static_cast<std::uint8_t>(*value);
}

std::vector<std::string_view> split(std::string_view text, char sep)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(sep);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos) return parts;
        text.remove_prefix(at + 1);
    }
}

// One action of an exchange fault: checksum, status=HH, silence, delay=MS, drop, repeat or repeat=MS.
bool apply_action(std::string_view action, exchange_fault& fault)
{
    const auto eq = action.find('=');
    const auto name = action.substr(0, eq);
    const auto value = eq == std::string_view::npos ? std::string_view{} : action.substr(eq + 1);
    if (eq == std::string_view::npos) {
        if (name == "checksum") return fault.wrong_checksum = true;
        if (name == "silence") return fault.silence = true;
        if (name == "drop") return fault.drop = true;
        if (name == "repeat") return fault.repeat = true;
        return false;
    }
    if (name == "status") return (fault.status = hex_byte(value)).has_value();
    if (name == "delay" || name == "repeat") {
        const auto ms = number(value);
        fault.repeat = fault.repeat || name == "repeat";
        (name == "delay" ? fault.delay_ms : fault.repeat_after_ms) = ms.value_or(0);
        return ms.has_value();
    }
    return false;
}

// KIND:N:ACTION[,ACTION...] with KIND status, erase, block or reset.
bool add_exchange_fault(const std::vector<std::string_view>& parts, chip_config& chip)
{
    static const std::map<std::string_view, exchange_kind> kinds = {{"status", exchange_kind::status},
                                                                    {"erase", exchange_kind::erase},
                                                                    {"block", exchange_kind::block},
                                                                    {"reset", exchange_kind::reset}};
    const auto kind = kinds.find(parts[0]);
    const auto nth = number(parts[1]);
    if (kind == kinds.end() || !nth || *nth < 1) return false;
    exchange_fault fault;
    fault.kind = kind->second;
    fault.nth = *nth;
    for (const auto action : split(parts[2], ','))
        if (!apply_action(action, fault)) return false;
    // The reset's answer has no checksum byte to spoil.
    if (fault.kind == exchange_kind::reset && fault.wrong_checksum) return false;
    chip.faults.push_back(fault);
    return true;
}

// none, wrong (the byte's complement) or the hex byte sent instead.
bool set_acknowledge(std::string_view how, std::optional<std::uint8_t>& ack, std::uint8_t right)
{
    if (how == "none") {
        ack.reset();
        return true;
    }
    if (how == "wrong") {
        ack = static_cast<std::uint8_t>(~right);
        return true;
    }
    ack = hex_byte(how);
    return ack.has_value();
}

bool add_fault(std::string_view text, chip_config& chip)
{
    if (text == "echo-zero") return chip.echo_zero = true;
    if (text == "id:none") {
        chip.id_byte.reset();
        return true;
    }
    const auto parts = split(text, ':');
    if (parts.size() == 2 && parts[0] == "drop-at") {
        const auto nth = number(parts[1]);
        if (!nth || *nth < 1) return false;
        chip.drop_at_byte = static_cast<std::uint64_t>(*nth);
        return true;
    }
    if (parts.size() == 2 && parts[0] == "ack1") return set_acknowledge(parts[1], chip.loader_ack, wire::loader_ack);
    if (parts.size() == 2 && parts[0] == "ack2") return set_acknowledge(parts[1], chip.program_ack, wire::program_ack);
    return parts.size() == 3 && add_exchange_fault(parts, chip);
}

// N:HHHH, the two status bytes of sector N.
bool set_sector_status(std::string_view text, chip_config& chip)
{
    const auto parts = split(text, ':');
    if (parts.size() != 2 || parts[1].size() != 4) return false;
    const auto sector = number(parts[0]);
    const auto first = hex_byte(parts[1].substr(0, 2));
    const auto second = hex_byte(parts[1].substr(2));
    if (!sector || *sector >= k_sector_count || !first || !second) return false;
    chip.sector_status[static_cast<std::size_t>(*sector)] = {*first, *second};
    return true;
}

bool set_ms(std::string_view text, int& target)
{
    const auto value = number(text);
    target = value.value_or(target);
    return value.has_value();
}

// BAUD, or follow: the rate the host sets, read anew as its bytes come.
bool set_line_rate(std::string_view text, sim_options& options)
{
    options.follow_line_rate = text == "follow";
    if (options.follow_line_rate) options.chip.timing.line_rate = 0;
    return options.follow_line_rate || set_ms(text, options.chip.timing.line_rate);
}

bool set_count(std::string_view text, std::optional<int>& target)
{
    target = number(text);
    return target.has_value();
}

using option_handler = std::function<bool(std::string_view, sim_options&)>;

const std::map<std::string_view, option_handler>& options_with_value()
{
    static const std::map<std::string_view, option_handler> handlers = {
        {"--link", [](auto v, auto& o) { return !(o.link_path = v).empty(); }},
        {"--preload", [](auto v, auto& o) { return !(o.preload_path = v).empty(); }},
        {"--dump", [](auto v, auto& o) { return !(o.dump_path = v).empty(); }},
        {"--trace", [](auto v, auto& o) { return !(o.trace_path = v).empty(); }},
        {"--replay", [](auto v, auto& o) { return !(o.replay_path = v).empty(); }},
        {"--line-rate", [](auto v, auto& o) { return set_line_rate(v, o); }},
        {"--erase-ms", [](auto v, auto& o) { return set_ms(v, o.chip.timing.erase_ms); }},
        {"--program-ms", [](auto v, auto& o) { return set_ms(v, o.chip.timing.program_ms); }},
        {"--adapter-latency", [](auto v, auto& o) { return set_ms(v, o.chip.timing.adapter_latency_ms); }},
        {"--id-byte", [](auto v, auto& o) { return (o.chip.id_byte = hex_byte(v)).has_value(); }},
        {"--sector-status", [](auto v, auto& o) { return set_sector_status(v, o.chip); }},
        {"--fault", [](auto v, auto& o) { return add_fault(v, o.chip); }},
        {"--faulty-bring-ups", [](auto v, auto& o) { return set_count(v, o.chip.faulty_bring_ups); }},
    };
    return handlers;
}

bool apply_flag(std::string_view arg, sim_options& options)
{
    if (arg == "--help" || arg == "-h") return options.help = true;
    if (arg == "--version") return options.version = true;
    if (arg == "--split-answers") {
        options.chip.grouping = answer_grouping::split;
        return true;
    }
    if (arg == "--fixed-adapter") return options.fixed_adapter = true;
    if (arg == "--reset-on-close") return options.reset_on_close = true;
    if (arg == "--joined-answers") {
        options.chip.grouping = answer_grouping::joined;
        return true;
    }
    return false;
}

}  // namespace

parsed_options parse_options(const std::vector<std::string>& args)
{
    sim_options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (apply_flag(arg, options)) continue;
        const auto handler = options_with_value().find(arg);
        if (handler == options_with_value().end()) return {std::nullopt, "unknown option " + args[i]};
        if (i + 1 == args.size()) return {std::nullopt, args[i] + " needs a value"};
        if (!handler->second(args[i + 1], options))
            return {std::nullopt, "bad value for " + args[i] + ": " + args[i + 1]};
        ++i;
    }
    return {options, {}};
}

std::string usage_text()
{
    return R"(Usage: mirel-sim [OPTION]...
A simulated Mirel board on a pseudo-terminal. The first line on standard
output is the path of the device to open (for example /dev/pts/3).

The board resets at start, on SIGUSR1 (the reset button: kill -USR1 PID) and
after the software reset command. Like a real board it knows nothing of the
port: the host may open and close the device as it likes. With
--reset-on-close it also resets when the host keeps the device closed for
500 ms or more, as a board on an adapter whose DTR line drives its reset
(DTR drops when the port closes). SIGTERM or SIGINT ends it (after writing
the --dump file).

SIGUSR2 takes the board out, and the next SIGUSR2 puts a fresh one in, as on
a production fixture: its flash holds the --preload image (or all FFh), and
its faults count anew. Taken out, the device and the --link go away, as an
adapter unplugged with its board; with --fixed-adapter the device stays and
says nothing, as an adapter whose board was taken out. A fresh board's
device is printed as a line of its own. The flash of board N goes to the
--dump file with ".N" added from the second board on, when it is taken out
or the simulator ends.

Files and traces:
  --link PATH         also make PATH a symbolic link to the device
  --preload FILE      start with this flash image: 131072 bytes, sectors 0 to 3
                      in order, 32 KiB each (default: all FFh)
  --dump FILE         write the flash image in the same layout at the end
  --trace FILE        log every byte from the host and from the chip, board
                      resets and a dropped line, each with its time in ms
  --replay FILE       instead of the chip, play back the chip's side of a
                      trace written with FERNWICK_TRACE: each chunk the
                      host read, once the host has written what it wrote
                      before it; resets do not restart it and the chip
                      options have no effect (see the README)

The adapter:
  --fixed-adapter     a board taken out (SIGUSR2) leaves its device in place
  --reset-on-close    the board resets once the host has kept the device
                      closed for 500 ms: an adapter whose DTR line is wired
                      to the board's reset (default: the port's opening and
                      closing never touch the board)

Timing (all 0 by default: no time passes):
  --line-rate BAUD    10 bits per byte in both directions
  --line-rate follow  the same at the baud rate the host has set on the
                      device, read again whenever its bytes come (standard
                      and custom rates); no pacing when it cannot be read
  --erase-ms N        time to erase one sector
  --program-ms N      time to program one 64-byte block
  --adapter-latency MS
                      a USB adapter's latency timer: the bytes towards the
                      host are held until MS have passed since the first of
                      them came, or until 62 wait

Chip:
  --id-byte HH        identification byte (default D5)
  --sector-status N:HHHH
                      the two status bytes of sector N (0-3); by default
                      0010, 0111, 0212 and 0313
  --split-answers     write every answer byte alone, 5 ms after the previous
  --joined-answers    write the whole answer to a command at once

Faults (--fault may be given many times; HH is a hexadecimal byte):
  --fault id:none     no identification byte
  --fault echo-zero   the zero byte comes back before the identification byte
  --fault ack1:none|wrong|HH
                      no, a wrong or this acknowledge after the first-level
                      loader (instead of 22h)
  --fault ack2:none|wrong|HH
                      the same after the main program (instead of 11h)
  --faulty-bring-ups N
                      the four faults above and --id-byte hit only the first
                      N bring-ups (each begun by a zero byte); later ones go
                      through, as after a repaired board (default: all)
  --fault drop-at:N   the board goes away right after the chip has taken the
                      Nth byte from the host (counted from 1 since the
                      simulator started), wherever that falls: the
                      pseudo-terminal hangs up, as when a USB adapter is
                      pulled out
  --fault KIND:N:ACTION[,ACTION]...
                      in the Nth exchange (from 1) of KIND status, erase,
                      block or reset, counted since the simulator started:
                        checksum     the checksum byte is one too high
                        status=HH    this status byte instead of 88h (12h for
                                     a reset); the command is not carried out
                        silence      no answer; the command is not carried out
                        delay=MS     the answer comes MS later
                        drop         the board goes away instead of answering
                        repeat       the whole answer comes twice, the copy
                                     right after it (a glitching UART)
                        repeat=MS    the same, the copy MS later
                      for example --fault erase:2:status=93 or
                      --fault block:5:delay=300,checksum

  -h, --help          show this text
      --version       show the version
)";
}

}  // namespace fernwick::sim
