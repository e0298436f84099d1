#include "support_chip.h"

#include <cstdio>

#include "bootstrap/loader_images.h"

namespace fernwick::sim::testing {

std::string bytes_of(const std::string& hex)
{
    std::string digits;
    for (const char c : hex)
        if (c != ' ') digits.push_back(c);
    std::string bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        bytes.push_back(static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

std::string hex_of(const std::string& bytes)
{
    std::string text;
    for (const char c : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, "%02X", static_cast<unsigned char>(c));
        if (!text.empty()) text += ' ';
        text += pair;
    }
    return text;
}

void bring_up(chip_model& chip, int now_ms)
{
    chip.receive(std::string(1, '\0'), now_ms);
    chip.receive(bootstrap::first_loader_bytes(), now_ms);
    chip.receive(bootstrap::main_program_bytes(), now_ms);
    chip.take_output(now_ms);
}

std::string answer_to(chip_model& chip, const std::string& bytes, int now_ms)
{
    chip.receive(bytes, now_ms);
    std::string answer;
    for (const auto& w : chip.take_output(now_ms)) answer += w.bytes;
    return hex_of(answer);
}

std::string block(int segment, int offset, const std::string& data)
{
    std::string command = {'\x33', static_cast<char>(segment), static_cast<char>(offset >> 8),
                           static_cast<char>(offset & 0xFF)};
    command += data;
    command.resize(4 + k_block_size, '\0');
    return command;
}

std::ostream& operator<<(std::ostream& out, const timed& t) { return out << t.arrival_ms << ":" << t.bytes; }

std::vector<timed> writes_until_quiet(chip_model& chip)
{
    std::vector<timed> writes;
    while (const auto next = chip.next_event_ms())
        for (auto& w : chip.take_output(*next)) writes.push_back({w.arrival_ms, hex_of(w.bytes)});
    return writes;
}

}  // namespace fernwick::sim::testing
