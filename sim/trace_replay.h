#pragma once
// Playing back the chip's side of a FERNWICK_TRACE file (the format is in
// src/core/link_trace.h): what the host read, in the chunks it read it, each
// once the host has written what it had written before reading it. Both
// links of a trace are one serial device, so the host's bytes are counted
// across both. Pure: the pseudo-terminal side is in pty_replay.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fernwick::sim {

// An "in" record: a chunk the host read.
struct replay_answer {
    int line = 0;           // in the trace file, from 1
    std::size_t after = 0;  // bytes the host had written before reading it
    // Since the record before it, so that late answers stay late: the first
    // byte of that write (writes in a row share a line stamped with the
    // first), or, when there is none, the answer before it.
    long long delay_ms = 0;
    std::optional<std::size_t> since_write;
    std::string bytes;
};

// An "out" record with bytes: writes of the host that reached the line.
struct replay_write {
    int line = 0;
    std::size_t offset = 0;  // of its first byte among all the host's bytes
    std::string bytes;
};

struct replay_script {
    std::vector<replay_write> writes;
    std::vector<replay_answer> answers;
};

struct parsed_trace {
    std::optional<replay_script> script;
    std::string error;  // "line N: why"
};

parsed_trace parse_trace(std::string_view text);

// Follows the host through the script: counts and compares its bytes, and
// says when the next answer is due. Times are ms on any steady clock that
// starts at or after 0.
class trace_player {
public:
    explicit trace_player(replay_script script);

    // The host's bytes as they arrive. A warning for each traced write they
    // differ from and once for bytes beyond the trace; the replay goes on
    // either way, counting bytes, so that a bug report still plays through.
    std::vector<std::string> host_wrote(std::string_view bytes, long long now_ms);
    // The next answer, once it is due.
    std::optional<std::string> take_due(long long now_ms);
    // When the next answer falls due (perhaps already); nullopt while it
    // waits for the host, and once all have been played.
    std::optional<long long> next_due_ms() const;

private:
    void compare(std::string_view bytes, long long now_ms, std::vector<std::string>& warnings);

    replay_script script_;
    std::size_t host_bytes_ = 0;
    std::size_t next_ = 0;                  // the next answer
    long long last_answer_ms_ = 0;          // when the answer before it was played
    std::vector<long long> first_byte_ms_;  // when the first byte of each write came
    std::size_t write_ = 0;                 // the write that the host's next byte belongs to
    std::optional<std::size_t> warned_write_;
    bool warned_beyond_ = false;
};

}  // namespace fernwick::sim
