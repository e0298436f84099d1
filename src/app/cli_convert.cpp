#include "app/cli_convert.h"

#include <optional>
#include <sstream>

#include "programming/conversion.h"

namespace fernwick::app {

namespace {

constexpr int k_failed = 2;

struct parsed {
    std::optional<programming::conversion_request> request;
    std::string reason;  // why `request` is missing
};

std::optional<std::array<bool, 4>> sector_list(const std::string& list)
{
    std::array<bool, 4> chosen{};
    std::istringstream in(list);
    std::string item;
    bool any = false;
    while (std::getline(in, item, ',')) {
        if (item.size() != 1 || item[0] < '0' || item[0] > '3') return std::nullopt;
        chosen[static_cast<std::size_t>(item[0] - '0')] = true;
        any = true;
    }
    if (!any || list.back() == ',') return std::nullopt;
    return chosen;
}

// Reads "--name VALUE" at args[i]; false with a reason when it is not valid.
bool read_option(const std::vector<std::string>& args, std::size_t& i, programming::conversion_request& r,
                 std::string& reason)
{
    const std::string& name = args[i];
    if (i + 1 >= args.size()) {
        reason = name + " needs a value";
        return false;
    }
    const std::string& value = args[++i];
    if (name == "--sectors") {
        const auto chosen = sector_list(value);
        if (chosen) r.sectors = *chosen;
        reason = chosen ? "" : "--sectors takes sector numbers 0 to 3 separated by commas, not '" + value + "'";
    } else if (name == "--bsl-target") {
        const bool valid = value == "0" || value == "2" || value == "-99";
        if (valid) r.bsl_target = std::stoi(value);
        reason = valid ? "" : "--bsl-target takes 0, 2 or -99, not '" + value + "'";
    } else if (name == "--sector0-segment") {
        const bool valid = value == "0" || value == "1";
        if (valid) r.sector0_segment = std::stoi(value);
        reason = valid ? "" : "--sector0-segment takes 0 or 1, not '" + value + "'";
    } else {
        reason = "unknown option " + name;
    }
    return reason.empty();
}

parsed parse(const std::vector<std::string>& args)
{
    programming::conversion_request r;
    r.sectors = {true, true, true, true};
    bool have_file = false;
    std::string reason;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
            if (!read_option(args, i, r, reason)) return {std::nullopt, reason};
        } else if (have_file) {
            return {std::nullopt, "one hex file only, not also '" + a + "'"};
        } else {
            r.hex_file_name = a;
            have_file = true;
        }
    }
    if (!have_file) return {std::nullopt, "convert needs a hex file"};
    return {r, ""};
}

// The log lines as one line without their leading blanks.
std::string one_line(const std::vector<std::string>& lines)
{
    std::string text;
    for (const auto& line : lines) {
        const auto start = line.find_first_not_of(' ');
        if (start == std::string::npos) continue;
        if (!text.empty()) text += ' ';
        text += line.substr(start);
    }
    return text;
}

}  // namespace

int run_convert(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    const parsed p = parse(args);
    if (!p.request) {
        err << "fernwick-cli convert: " << p.reason << '\n';
        return k_failed;
    }
    const auto result = programming::convert_hex_file(*p.request);
    if (!result.ok()) {
        err << "fernwick-cli convert: " << one_line(result.error_lines) << '\n';
        return k_failed;
    }
    out << result.new_file_name << '\n';
    return 0;
}

}  // namespace fernwick::app
