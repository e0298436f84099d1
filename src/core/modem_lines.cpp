#include "core/modem_lines.h"

#include <charconv>
#include <chrono>
#include <thread>

namespace fernwick::core {

namespace {

struct wiring {
    std::string_view name, entry, exit;
};

// The entry holds reset and selects the bootstrap pin in one change, so the
// chip never starts with the pin let go; 100 ms of reset, then 50 ms for its
// bootstrap loader to start. The exit lets the pin go before the reset pulse
// that starts the new program. With a jumper on the pin there is no way out.
constexpr wiring k_wirings[] = {
    {"reset-rts-boot-dtr", "both=1,1,wait=100,rts=0,wait=50", "dtr=0,rts=1,wait=100,rts=0"},
    {"reset-rts-boot-dtr-inverted", "both=0,0,wait=100,rts=1,wait=50", "dtr=1,rts=0,wait=100,rts=1"},
    {"reset-rts-boot-jumper", "rts=1,wait=100,rts=0,wait=50", ""},
};

// A wait is bounded, so a mistyped one never holds a bring-up for hours.
constexpr int k_longest_wait_ms = 10000;
constexpr std::string_view k_step_forms = "dtr=0|1, rts=0|1, both=DTR,RTS or wait=MS";

std::string_view trimmed(std::string_view t)
{
    while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
    return t;
}

std::vector<std::string_view> words_of(std::string_view text)
{
    std::vector<std::string_view> words;
    for (std::size_t start = 0;;) {
        const auto end = text.find(',', start);
        words.push_back(trimmed(text.substr(start, end - start)));
        if (end == std::string_view::npos) return words;
        start = end + 1;
    }
}

std::optional<bool> level(std::string_view v)
{
    if (v == "0" || v == "1") return v == "1";
    return std::nullopt;
}

std::optional<int> milliseconds(std::string_view v)
{
    int ms = 0;
    const auto [end, error] = std::from_chars(v.data(), v.data() + v.size(), ms);
    if (v.empty() || v.front() == '-' || error != std::errc{} || end != v.data() + v.size() || ms > k_longest_wait_ms)
        return std::nullopt;
    return ms;
}

std::optional<std::vector<modem_step>> read_steps(std::string_view text, std::string& why)
{
    const auto words = words_of(text);
    std::vector<modem_step> steps;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const auto position = "step " + std::to_string(steps.size() + 1);
        std::string word(words[i]);
        if (word.empty()) {
            why = position + " is empty";
            return std::nullopt;
        }
        const auto equals = word.find('=');
        const auto key = word.substr(0, equals);
        const auto value = equals == std::string::npos ? std::string_view{} : words[i].substr(equals + 1);
        modem_step step;
        std::string fault;
        if (key == "dtr" || key == "rts") {
            const auto on = level(value);
            if (!on) fault = key + " takes 0 or 1";
            (key == "dtr" ? step.lines.dtr : step.lines.rts) = on;
        } else if (key == "both") {
            // Its second level is the word after the comma.
            const bool second = i + 1 < words.size();
            step.lines = {level(value), second ? level(words[i + 1]) : std::nullopt};
            if (second) word.append(",").append(words[++i]);
            if (!step.lines.dtr || !step.lines.rts) fault = "both takes the levels of DTR and RTS, e.g. both=1,0";
        } else if (key == "wait") {
            const auto ms = milliseconds(value);
            if (!ms) fault = "wait takes 0 to " + std::to_string(k_longest_wait_ms) + " ms";
            step.wait_ms = ms.value_or(0);
        } else {
            fault = "not a step (" + std::string(k_step_forms) + ")";
        }
        if (!fault.empty()) {
            why = position;
            why.append(" '").append(word).append("': ").append(fault);
            return std::nullopt;
        }
        steps.push_back(step);
    }
    return steps;
}

std::string step_text(const modem_step& s)
{
    const auto bit = [](bool on) { return on ? std::string("1") : std::string("0"); };
    if (s.lines.dtr && s.lines.rts) return "both=" + bit(*s.lines.dtr) + "," + bit(*s.lines.rts);
    if (s.lines.dtr) return "dtr=" + bit(*s.lines.dtr);
    if (s.lines.rts) return "rts=" + bit(*s.lines.rts);
    return "wait=" + std::to_string(s.wait_ms);
}

}  // namespace

// The serial links that have no modem lines say so.
bool serial_link::set_modem_lines(const modem_lines&) { return false; }

void serial_link::pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

int modem_sequence::wait_ms() const
{
    int ms = 0;
    for (const auto& s : steps) ms += s.wait_ms;
    return ms;
}

std::string sequence_text(const modem_sequence& s)
{
    std::string steps;
    for (const auto& step : s.steps) steps += (steps.empty() ? "" : ",") + step_text(step);
    return s.wiring.empty() ? steps : s.wiring + " (" + steps + ")";
}

std::optional<modem_sequence> parse_modem_sequence(std::string_view text, bool exit, std::string& why)
{
    const auto given = trimmed(text);
    for (const auto& w : k_wirings) {
        if (given != w.name) continue;
        if (exit && w.exit.empty()) {
            why = std::string(w.name) + " has no exit sequence: its jumper holds the bootstrap pin";
            return std::nullopt;
        }
        return modem_sequence{std::string(w.name), *read_steps(exit ? w.exit : w.entry, why), {}};
    }
    if (given.find_first_of(",=") == std::string_view::npos) {
        why = "'" + std::string(given) + "' is neither a wiring (" + wiring_names() + ") nor a step (" +
              std::string(k_step_forms) + ")";
        return std::nullopt;
    }
    auto steps = read_steps(given, why);
    if (!steps) return std::nullopt;
    return modem_sequence{{}, std::move(*steps), {}};
}

std::string wiring_names()
{
    std::string names;
    for (const auto& w : k_wirings) names += (names.empty() ? "" : ", ") + std::string(w.name);
    return names;
}

}  // namespace fernwick::core
