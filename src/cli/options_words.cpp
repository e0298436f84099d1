#include "cli/options_words.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <utility>

namespace fernwick::cli {

namespace {

std::vector<CLI::App*> every_command(CLI::App& app)
{
    return app.get_subcommands([](CLI::App*) { return true; });
}

std::size_t edit_distance(const std::string& a, const std::string& b)
{
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j)
            diagonal = std::exchange(row[j], std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])}));
    }
    return row[b.size()];
}

}  // namespace

std::optional<std::string> empty_value(const std::vector<std::string>& args)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i].starts_with("--") && args[i].ends_with('='))
            return args[i].substr(0, args[i].size() - 1) + " is given an empty value";
        if (args[i].empty())
            return i > 0 && args[i - 1].starts_with("--") ? args[i - 1] + " is given an empty value"
                                                          : std::string("an empty argument");
    }
    return std::nullopt;
}

std::vector<std::string> command_options_last(CLI::App& app, const std::vector<std::string>& args)
{
    const auto commands = every_command(app);
    std::vector<std::string> kept, moved;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& word = args[i];
        if (word == "--") return args;
        if (!word.starts_with('-')) {
            const auto named = [&word](const CLI::App* c) { return c->get_name() == word; };
            if (std::none_of(commands.begin(), commands.end(), named)) return args;
            kept.push_back(word);
            kept.insert(kept.end(), moved.begin(), moved.end());
            kept.insert(kept.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            return kept;
        }
        const auto name = word.substr(0, word.find('='));
        const CLI::Option* option = app.get_option_no_throw(name);
        auto& into = option ? kept : moved;
        // Options of one name take as many values in every command.
        for (std::size_t c = 0; !option && c < commands.size(); ++c) option = commands[c]->get_option_no_throw(name);
        if (!option) return args;
        into.push_back(word);
        if (name.size() == word.size() && option->get_items_expected_min() > 0 && i + 1 < args.size())
            into.push_back(args[++i]);
    }
    return args;
}

std::string unknown_option(CLI::App& app, const std::string& word)
{
    const auto typed = word.substr(0, word.find('='));
    const auto every = every_command(app);
    auto apps = app.get_subcommands();
    const bool command_given = !apps.empty();
    std::string owners;
    for (auto* a : every)
        if (a->get_option_no_throw(typed)) owners += (owners.empty() ? "" : ", ") + a->get_name();
    if (!owners.empty())
        return typed + " is an option of " + owners +
               (command_given ? ", not of " + apps.front()->get_name() : "; it goes with one of these commands");
    if (!command_given) apps = every;
    apps.push_back(&app);
    std::string nearest;
    std::size_t best = 3;
    for (const auto* a : apps)
        for (const auto* option : a->get_options())
            for (const auto& name : option->get_lnames())
                if (const auto d = edit_distance(typed, "--" + name); d < best) {
                    best = d;
                    nearest = "--" + name;
                }
    return "unknown option " + typed + (nearest.empty() ? "" : "; did you mean " + nearest + "?");
}

}  // namespace fernwick::cli
