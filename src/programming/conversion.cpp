#include "programming/conversion.h"

#include <filesystem>
#include <system_error>

#include "programming/block_layout.h"
#include "programming/block_record.h"
#include "programming/hex_records.h"
#include "programming/text_file.h"

namespace fernwick::programming {

namespace {

namespace fs = std::filesystem;

// True when writing `new_file` would replace the hex file itself.
bool is_same_file(const std::string& hex_file, const std::string& new_file)
{
    if (fs::path(hex_file).lexically_normal() == fs::path(new_file).lexically_normal()) return true;
    std::error_code ec;
    return fs::equivalent(hex_file, new_file, ec);
}

conversion_result failure(std::string new_file_name, std::vector<std::string> lines)
{
    return {std::move(new_file_name), std::move(lines), 0};
}

std::string block_file_text(const std::array<sector_image, 4>& images, const std::array<bool, 4>& chosen,
                            int& block_count)
{
    std::string text;
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

std::string new_file_name_for(const std::string& hex_file_name)
{
    return fs::path(hex_file_name).replace_extension(".NEW").string();
}

conversion_result convert_hex_file(const conversion_request& request)
{
    const std::string& hex_file = request.hex_file_name;
    std::string new_file = new_file_name_for(hex_file);
    if (is_same_file(hex_file, new_file)) {
        return failure(std::move(new_file),
                       {"     The Hex-file would be overwritten by its converted file : " + hex_file,
                        "     Please rename the Hex-file !"});
    }
    const auto hex = read_hex_records(hex_file);
    if (!hex) return failure(std::move(new_file), {"     The Hex-file cannot be read : " + hex_file});

    const auto images = lay_out_blocks(*hex, request.sector0_segment, request.bsl_target);
    conversion_result result{std::move(new_file), {}, 0};
    const std::string text = block_file_text(images, request.sectors, result.block_count);
    if (!replace_file(result.new_file_name, text)) {
        return failure(std::move(result.new_file_name),
                       {"     The converted file cannot be written : " + result.new_file_name});
    }
    return result;
}

}  // namespace fernwick::programming
