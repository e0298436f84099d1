#pragma once
// The words of fernwick-cli's command line before CLI11 reads them, and what
// is said of the words it could not place.

#include <optional>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace fernwick::cli {

// CLI11 lets an empty value through unchecked, and reads it as 0 for a
// number: "--device ''" would mean COM 1, "--baud ''" no rate at all. The
// reason, or nullopt.
std::optional<std::string> empty_value(const std::vector<std::string>& args);

// The words with a command's options that came before the command's name
// moved right after it ("--device X --wait 20 status" reads as "--device X
// status --wait 20"); the program's own options stay where they are. The
// words unchanged when no command is named, or a word before it is no option
// of the program or of any command (CLI11 then says what is wrong).
std::vector<std::string> command_options_last(CLI::App& app, const std::vector<std::string>& args);

// "unknown option --devce; did you mean --device?": the nearest option of
// the command given (of any command before one is), when it lies within two
// typing errors; another command's option is named as that command's.
std::string unknown_option(CLI::App& app, const std::string& word);

}  // namespace fernwick::cli
