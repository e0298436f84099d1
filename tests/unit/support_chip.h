#pragma once
// Helpers of the simulator tests, header-only so that the end-to-end tests
// share them: hex text and bytes, the bring-up, and what the chip answers.

#include <cstdio>
#include <string>

#include "bootstrap/loader_images.h"
#include "chip_model.h"

namespace fernwick::sim::testing {

inline const std::string zero_byte(1, '\0');

// "A5 5A" or "A55A" to the bytes A5h 5Ah.
inline std::string bytes_of(const std::string& hex)
{
    std::string bytes;
    for (std::size_t i = 0; (i = hex.find_first_not_of(' ', i)) != std::string::npos; i += 2)
        bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

inline std::string hex_of(const std::string& bytes, const char* between = " ")
{
    std::string text;
    for (const char c : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
        text += (text.empty() ? "" : between) + std::string(pair);
    }
    return text;
}

// Zero byte, first-level loader and main program.
inline std::string bring_up_bytes()
{
    return zero_byte + bootstrap::first_loader_bytes() + bootstrap::main_program_bytes();
}

// The block command: 33h, segment, address high and low, 64 data bytes.
inline std::string block(int segment, int offset, const std::string& data)
{
    std::string command = {'\x33', static_cast<char>(segment), static_cast<char>(offset >> 8),
                           static_cast<char>(offset & 0xFF)};
    command += data;
    command.resize(4 + k_block_size, '\0');
    return command;
}

// Every write of the chip until it is quiet: its bytes run together, then
// "@ms" when it arrives after `since`; blanks between writes.
inline std::string heard(chip_model& chip, int since = 0)
{
    std::string text;
    while (const auto next = chip.next_event_ms())
        for (const auto& w : chip.take_output(*next)) {
            text += (text.empty() ? "" : " ") + hex_of(w.bytes, "");
            if (w.arrival_ms != since) text += "@" + std::to_string(w.arrival_ms - since);
        }
    return text;
}

// What the chip answers to bytes sent at the end of its last answer.
inline std::string answer_to(chip_model& chip, const std::string& bytes)
{
    const int now = chip.now_ms();
    chip.receive(bytes, now);
    return heard(chip, now);
}

inline void bring_up(chip_model& chip) { answer_to(chip, bring_up_bytes()); }

}  // namespace fernwick::sim::testing
