#include "cli/convert_command.h"

#include "programming/conversion.h"
#include "station/file_preparation.h"

namespace fernwick::cli {

namespace {

constexpr int k_failed = 2;

}  // namespace

int run_convert(const hex_choices& choices, std::ostream& out, std::ostream& err)
{
    const plan p = make_plan(choices, err);
    if (!p.refusal.empty()) {
        print_refusal(err, "convert", p);
        return k_failed;
    }
    print_left_out(err, "convert", p);
    // The plan's own conversion: the file is not read again.
    const auto result = programming::write_block_file(p.conversion);
    if (!result.ok()) {
        err << "fernwick-cli convert: " << failure_text(*result.failure) << '\n';
        return k_failed;
    }
    out << result.new_file_name << '\n';
    return 0;
}

}  // namespace fernwick::cli
