// The sector scan and the conversion through files, as the operator's run
// uses them: the hex file is written to a scratch folder, scanned for both
// segments of sector 0 and converted with the choices of the first byte;
// every line of the block file is read back and checked.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>

#include "fuzz_support.h"
#include "layout_checks.h"
#include "programming/block_record.h"
#include "programming/conversion.h"
#include "programming/hex_check.h"
#include "programming/hex_records.h"
#include "programming/hex_scan.h"

namespace {

namespace fs = std::filesystem;
using namespace fernwick::programming;
using fernwick::fuzz::require;

// One folder per fuzzing process, so that parallel jobs do not meet; gone
// when the process ends normally.
class scratch_folder {
public:
    scratch_folder() : dir_(fs::temp_directory_path() / ("fernwick_fuzz_" + std::to_string(::getpid())))
    {
        fs::create_directories(dir_);
    }
    ~scratch_folder()
    {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    scratch_folder(const scratch_folder&) = delete;
    scratch_folder& operator=(const scratch_folder&) = delete;

    const fs::path& path() const { return dir_; }

private:
    fs::path dir_;
};

const fs::path& scratch()
{
    static const scratch_folder folder;
    return folder.path();
}

std::string contents(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int blocks_made(const fernwick::fuzz::images& layout, const std::array<bool, 4>& chosen)
{
    int count = 0;
    for (std::size_t s = 0; s < 4; ++s) {
        if (!chosen[s]) continue;
        for (const auto& block : layout[s].blocks) count += block.empty() ? 0 : 1;
    }
    return count;
}

// Lines ending with CR LF, in sector order and within a sector in rising
// address, only of chosen sectors, one for every block the layout made.
void check_block_file(const std::string& text, const fernwick::fuzz::run_choice& choice,
                      const fernwick::fuzz::images& layout, int block_count)
{
    int lines = 0;
    std::pair<int, long> last{-1, 0};
    for (std::size_t start = 0; start < text.size();) {
        const auto end = text.find("\r\n", start);
        require(end != std::string::npos, "every block file line ends with CR LF");
        const auto record = read_block_record(std::string_view(text).substr(start, end - start));
        require(record.has_value(), "every block file line reads back");
        require(format_block_record(*record) == text.substr(start, end - start), "a line reads back to its fields");
        fernwick::fuzz::check_block_record(*record, layout);
        require(choice.sectors[static_cast<std::size_t>(record->sector)], "blocks only of chosen sectors");
        const std::pair<int, long> here{record->sector, record->address};
        require(last < here, "sectors in order, addresses rising and unique within a sector");
        last = here;
        ++lines;
        start = end + 2;
    }
    require(lines == block_count, "the block count the conversion reports");
    require(lines == blocks_made(layout, choice.sectors), "every block the layout made");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto choice = fernwick::fuzz::read_choice(data, size);
    const auto hex_file = scratch() / "app.hex";
    std::ofstream(hex_file, std::ios::binary | std::ios::trunc) << choice.hex_text;

    const auto hex = parse_hex_records(choice.hex_text);
    auto fault = check_hex_text(choice.hex_text);
    if (!fault) fault = find_conflict(hex);
    for (const int segment : {0, 1}) {
        const auto scanned = scan_sectors(hex_file.string(), segment, choice.bsl_target);
        if (fault) {
            require(!scanned.flags && scanned.fault && scanned.fault->line == fault->line,
                    "a damaged file is refused by the scan at its first fault");
            continue;
        }
        require(scanned.flags.has_value(), "a written hex file is scanned");
        const auto layout = lay_out_blocks(hex, segment, choice.bsl_target);
        fernwick::fuzz::check_scan_covers(*scanned.flags, layout.sectors);
        require(scanned.unplaced.size() == layout.unplaced.size(), "the scan names the bytes that reach no flash");
    }
    std::error_code ec;
    fs::remove(scratch() / "app.NEW", ec);
    const auto result =
        convert_hex_file({hex_file.string(), choice.sectors, choice.bsl_target, choice.sector0_segment});
    require(std::distance(fs::directory_iterator(scratch()), fs::directory_iterator()) == (fault ? 1 : 2),
            "nothing beside the hex file but its block file");
    if (fault) {
        require(!result.ok() && result.failure->line == fault->line, "a damaged file converts to nothing");
        return 0;
    }
    require(result.ok(), "a readable hex file converts");
    require(fs::path(result.new_file_name) == scratch() / "app.NEW", "the block file beside the hex file");
    const auto layout = lay_out_blocks(hex, choice.sector0_segment, choice.bsl_target);
    require(result.unplaced.size() == layout.unplaced.size(), "the conversion names the bytes that reach no flash");
    check_block_file(contents(result.new_file_name), choice, layout.sectors, result.block_count);
    return 0;
}
