// The numbers of one process, and a board's number stamped into its blocks.

#include <algorithm>

#include "core/hex_text.h"
#include "core/message_log.h"
#include "programming/block_layout.h"
#include "programming/block_record.h"
#include "station/serial_numbers.h"

namespace fernwick::station {

std::shared_ptr<const core::prepared_blocks> stamp(const core::prepared_blocks& blocks, long address,
                                                   const serial_value& value)
{
    auto out = std::make_shared<core::prepared_blocks>(blocks);
    auto& text = out->block_text;
    const long last = address + static_cast<long>(value.bytes.size()) - 1;
    std::size_t stamped = 0;
    for (std::size_t from = 0; from < text.size();) {
        const auto end = std::min(text.find('\n', from), text.size());
        const auto record = programming::read_block_record(std::string_view(text).substr(from, end - from));
        if (record) {
            const long first = record->segment * 0x10000L + record->address;
            const auto data = text.find('"', from) + 1;
            for (long at = std::max(first, address); at <= std::min(last, first + programming::k_block_size - 1);
                 ++at) {
                const auto b = value.bytes[static_cast<std::size_t>(at - address)];
                const auto pos = data + static_cast<std::size_t>(at - first) * 2;
                text[pos] = core::hex_digit(b >> 4);
                text[pos + 1] = core::hex_digit(b);
                ++stamped;
            }
        }
        from = end + 1;
    }
    return stamped == value.bytes.size() ? out : nullptr;
}

memory_book::memory_book(serial_choice c, serial_list list) : choice_(std::move(c)), list_(std::move(list)) {}

std::optional<serial_value> memory_book::take(std::string& why, const waiting&)
{
    const std::lock_guard lock(mutex_);
    const bool again = !given_back_.empty();
    const auto index = again ? *given_back_.begin() : next_;
    auto value = serial_number_at(choice_, list_, index);
    if (!value) {
        why = used_up_text(choice_, list_, index);
        return std::nullopt;
    }
    if (again)
        given_back_.erase(given_back_.begin());
    else
        ++next_;
    return value;
}

bool memory_book::settle(const serial_value& value, bool passed, std::string&)
{
    const std::lock_guard lock(mutex_);
    if (!passed) given_back_.insert(value.index);
    return true;
}

bool stamp_board(core::app_state& s, serial_book& book, long address, std::optional<serial_value>& number,
                 const serial_book::waiting& wait)
{
    std::string why;
    const bool taken_now = !number;
    if (taken_now) number = book.take(why, wait);
    auto blocks = number && s.prepared ? stamp(*s.prepared, address, *number) : nullptr;
    if (!blocks) {
        s.run.step = "serial number";
        s.run.outcome = core::run_record::result::failed;
        core::error_block(s.log(), {"     No serial number for this board !",
                                    "     " + (why.empty() ? "its place is in no block of the run" : why)});
        return false;
    }
    s.prepared = std::move(blocks);
    core::line_with_break(s.log(), "     Serial number of this board: " + number->text);
    if (taken_now)
        for (const auto& note : number->notes) core::line_with_break(s.log(), "     " + note);
    return true;
}

}  // namespace fernwick::station
