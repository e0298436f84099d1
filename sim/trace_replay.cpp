#include "trace_replay.h"

#include <algorithm>
#include <charconv>

#include "core/hex_text.h"

namespace fernwick::sim {
namespace {

struct record {
    long long ms = 0;
    std::string_view event;
    std::string_view details;
};

// The next space-separated word, taken off the front of `text`.
std::string_view next_word(std::string_view& text)
{
    const auto end = std::min(text.find(' '), text.size());
    const auto word = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    return word;
}

std::optional<long long> milliseconds(std::string_view text)
{
    long long value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc{} || ptr != end || value < 0) return std::nullopt;
    return value;
}

// "D5 00 1F" to its bytes; nullopt unless every word is two hex digits.
std::optional<std::string> bytes_of(std::string_view hex)
{
    std::string bytes;
    while (!hex.empty()) {
        const auto word = next_word(hex);
        unsigned value = 0;
        const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value, 16);
        if (word.size() != 2 || ec != std::errc{} || ptr != word.data() + 2) return std::nullopt;
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

bool known_event(std::string_view event)
{
    for (const std::string_view e : {"open", "open-failed", "close", "out", "out-failed", "in"})
        if (event == e) return true;
    return false;
}

// "<ms> <link> <event>[ <details>]"; nullopt with the reason when malformed.
std::optional<record> parse_record(std::string_view line, std::string& why)
{
    record r;
    const auto ms = milliseconds(next_word(line));
    const auto link = next_word(line);
    r.event = next_word(line);
    r.details = line;
    if (!ms || link.empty() || r.event.empty()) {
        why = "not \"<ms> <link> <event> [details]\"";
        return std::nullopt;
    }
    r.ms = *ms;
    if (!known_event(r.event)) {
        why = "unknown event " + std::string(r.event);
        return std::nullopt;
    }
    return r;
}

}  // namespace

parsed_trace parse_trace(std::string_view text)
{
    replay_script script;
    std::size_t host_bytes = 0;
    std::optional<long long> last_exchange_ms;
    bool last_was_write = false;
    for (int number = 1; !text.empty(); ++number) {
        const auto end = std::min(text.find('\n'), text.size());
        auto line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        // A trace that went through a mail program or an editor on Windows.
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.empty()) continue;
        std::string why;
        const auto r = parse_record(line, why);
        const auto failed = [number](const std::string& reason) {
            return parsed_trace{std::nullopt, "line " + std::to_string(number) + ": " + reason};
        };
        if (!r) return failed(why);
        if (r->event != "out" && r->event != "in" && r->event != "out-failed") continue;
        auto bytes = bytes_of(r->details);
        if (!bytes || (r->event == "in" && bytes->empty()))
            return failed("bad bytes \"" + std::string(r->details) + "\"");
        // Failed writes never reached the chip; empty ones carry nothing.
        if (r->event == "out-failed" || bytes->empty()) continue;
        if (r->event == "out") {
            script.writes.push_back({number, host_bytes, std::move(*bytes)});
            host_bytes += script.writes.back().bytes.size();
        } else {
            const long long delay = last_exchange_ms ? std::max(r->ms - *last_exchange_ms, 0LL) : 0;
            std::optional<std::size_t> since_write;
            if (last_was_write) since_write = script.writes.size() - 1;
            script.answers.push_back({number, host_bytes, delay, since_write, std::move(*bytes)});
        }
        last_exchange_ms = r->ms;
        last_was_write = r->event == "out";
    }
    return {std::move(script), {}};
}

trace_player::trace_player(replay_script script) : script_(std::move(script)) {}

std::vector<std::string> trace_player::host_wrote(std::string_view bytes, long long now_ms)
{
    std::vector<std::string> warnings;
    compare(bytes, now_ms, warnings);
    host_bytes_ += bytes.size();
    return warnings;
}

std::optional<std::string> trace_player::take_due(long long now_ms)
{
    const auto due = next_due_ms();
    if (!due || now_ms < *due) return std::nullopt;
    last_answer_ms_ = now_ms;
    return std::move(script_.answers[next_++].bytes);
}

std::optional<long long> trace_player::next_due_ms() const
{
    if (next_ == script_.answers.size()) return std::nullopt;
    const auto& answer = script_.answers[next_];
    if (host_bytes_ < answer.after) return std::nullopt;
    // The write has come in full, so its first byte has.
    const long long since = answer.since_write ? first_byte_ms_[*answer.since_write] : last_answer_ms_;
    return since + answer.delay_ms;
}

void trace_player::compare(std::string_view bytes, long long now_ms, std::vector<std::string>& warnings)
{
    const auto& writes = script_.writes;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t at = host_bytes_ + i;
        while (write_ < writes.size() && at >= writes[write_].offset + writes[write_].bytes.size()) ++write_;
        if (write_ < writes.size() && first_byte_ms_.size() == write_) first_byte_ms_.push_back(now_ms);
        if (write_ == writes.size()) {
            if (!warned_beyond_)
                warnings.push_back("the host wrote more than the trace holds, from its byte " + std::to_string(at + 1) +
                                   " on");
            warned_beyond_ = true;
            return;
        }
        const auto& w = writes[write_];
        const char expected = w.bytes[at - w.offset];
        // One warning per write: a wrong block says enough with its first byte.
        if (bytes[i] == expected || warned_write_ == write_) continue;
        warned_write_ = write_;
        warnings.push_back("trace line " + std::to_string(w.line) + ", byte " + std::to_string(at - w.offset + 1) +
                           " of the write (byte " + std::to_string(at + 1) + " of the host's): the host sent " +
                           core::hex2(static_cast<std::uint8_t>(bytes[i])) + ", the trace has " +
                           core::hex2(static_cast<std::uint8_t>(expected)));
    }
}

}  // namespace fernwick::sim
