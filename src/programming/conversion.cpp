#include "programming/conversion.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "programming/block_layout.h"
#include "programming/block_record.h"
#include "programming/hex_records.h"
#include "programming/text_file.h"

namespace fernwick::programming {

namespace {

namespace fs = std::filesystem;
using kind = conversion_failure::kind;

// True when writing `new_file` would replace the hex file itself.
bool is_same_file(const std::string& hex_file, const std::string& new_file)
{
    if (fs::path(hex_file).lexically_normal() == fs::path(new_file).lexically_normal()) return true;
    std::error_code ec;
    return fs::equivalent(hex_file, new_file, ec);
}

// A block line: sector, address and segment, 128 digits, the marker, line end.
constexpr std::size_t k_block_line_size = 160;

conversion_result failure(std::string new_file_name, conversion_failure f)
{
    return {std::move(new_file_name), std::move(f), {}, 0, {}, {}};
}

// "it looks like ..." as the second line of an error block.
std::string capitalised(std::string text)
{
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

std::string block_file_text(const std::array<sector_image, 4>& images, const std::array<bool, 4>& chosen,
                            int& block_count)
{
    std::size_t blocks = 0;
    for (const auto& image : images)
        blocks += static_cast<std::size_t>(
            std::count_if(image.blocks.begin(), image.blocks.end(), [](const std::string& b) { return !b.empty(); }));
    std::string text;
    text.reserve(blocks * k_block_line_size);
    for (int s = 0; s < 4; ++s) {
        const auto& image = images[static_cast<std::size_t>(s)];
        if (!chosen[static_cast<std::size_t>(s)]) continue;
        for (std::size_t b = 0; b < image.blocks.size(); ++b) {
            if (image.blocks[b].empty()) continue;
            text += format_block_record(
                {s, image.block_address(b), image.range.segment, image.blocks[b], std::string(k_end_of_block)});
            text += "\r\n";
            ++block_count;
        }
    }
    return text;
}

}  // namespace

std::vector<std::string> failure_lines(const conversion_failure& f)
{
    switch (f.what) {
    case kind::would_overwrite:
        return {"     The Hex-file would be overwritten by its converted file : " + f.path,
                "     Please rename the Hex-file !"};
    case kind::unreadable: return {"     The Hex-file cannot be read : " + f.path, "     " + f.reason};
    case kind::damaged: {
        const std::string where = f.line > 0 ? "     Line " + std::to_string(f.line) : "     The file";
        return {"     The Hex-file is damaged : " + f.path, where + " " + f.reason};
    }
    case kind::not_intel_hex:
        return {"     The file is not an Intel-Hex file : " + f.path, "     " + capitalised(f.reason)};
    case kind::unwritable: return {"     The converted file cannot be written : " + f.path, "     " + f.reason};
    }
    return {};
}

conversion_failure file_failure(const std::string& path, const std::string& reason,
                                const std::optional<hex_fault>& fault)
{
    if (!fault) return {kind::unreadable, path, reason, 0};
    return {fault->not_intel_hex ? kind::not_intel_hex : kind::damaged, path, fault->what, fault->line};
}

std::string failure_text(const conversion_failure& f)
{
    switch (f.what) {
    case kind::would_overwrite: return f.path + ": would be overwritten by its converted file; rename it";
    case kind::not_intel_hex: return f.path + " is not an Intel-Hex file: " + f.reason;
    case kind::damaged: {
        const std::string where = f.line > 0 ? ": line " + std::to_string(f.line) : ": the file";
        return f.path + where + " " + f.reason;
    }
    default: return f.path + ": " + f.reason;
    }
}

std::string new_file_name_for(const std::string& hex_file_name)
{
    return fs::path(hex_file_name).replace_extension(".NEW").string();
}

conversion_result convert_hex(const conversion_request& request, const std::optional<reserved_bytes>& reserved)
{
    const std::string& hex_file = request.hex_file_name;
    std::string new_file = new_file_name_for(hex_file);
    if (is_same_file(hex_file, new_file)) return failure(std::move(new_file), {kind::would_overwrite, hex_file, {}, 0});
    auto read = read_hex_records(hex_file);
    if (!read.hex) return failure(std::move(new_file), file_failure(hex_file, read.reason, read.fault));
    return convert_hex_records(request, std::move(*read.hex), reserved);
}

conversion_result convert_hex_records(const conversion_request& request, hex_records hex,
                                      const std::optional<reserved_bytes>& reserved)
{
    std::string new_file = new_file_name_for(request.hex_file_name);
    if (is_same_file(request.hex_file_name, new_file))
        return failure(std::move(new_file), {kind::would_overwrite, request.hex_file_name, {}, 0});
    if (reserved) {
        // The first record's byte is the one placed where records overlap.
        data_record zeros;
        zeros.segment = static_cast<int>(reserved->address >> 16);
        zeros.offset = static_cast<int>(reserved->address & 0xFFFF);
        zeros.length = reserved->count;
        zeros.data_pos = hex.text.size();
        zeros.data_size = static_cast<std::size_t>(reserved->count) * 2;
        hex.text.append(zeros.data_size, '0');
        hex.records.insert(hex.records.begin(), zeros);
    }
    auto layout = lay_out_blocks(hex, request.sector0_segment, request.bsl_target);
    conversion_result result{std::move(new_file), std::nullopt, {}, 0, std::move(layout.unplaced), {}};
    result.block_text = block_file_text(layout.sectors, request.sectors, result.block_count);
    for (std::size_t s = 0; s < 4; ++s) result.sector_bytes[s] = layout.sectors[s].file_bytes;
    return result;
}

conversion_result convert_hex_file(const conversion_request& request) { return write_block_file(convert_hex(request)); }

conversion_result write_block_file(conversion_result result)
{
    if (!result.ok()) return result;
    if (auto reason = replace_file(result.new_file_name, result.block_text)) {
        const std::string path = result.new_file_name;
        return failure(path, {kind::unwritable, path, std::move(*reason), 0});
    }
    return result;
}

}  // namespace fernwick::programming
