#include "HelpFormatter.h"

#include <sstream>
#include <vector>

namespace pelwick {

namespace {

constexpr std::size_t lineWidth = 80;
// Where the descriptions of options, and of commands in the program's help, begin.
constexpr std::size_t optionColumn = 28;
constexpr std::size_t commandColumn = 12;

// `text` broken into lines of at most `width` characters at spaces (a word longer than that stays
// whole); line breaks in `text` are kept. Every line but the first gets `indent` spaces.
std::string wrapped(const std::string& text, std::size_t width, std::size_t indent) {
    std::string result;
    std::istringstream paragraphs(text);
    bool firstLine = true;
    for (std::string paragraph; std::getline(paragraphs, paragraph);) {
        std::istringstream words(paragraph);
        std::string line;
        const auto flush = [&] {
            result += (firstLine ? "" : "\n" + std::string(indent, ' ')) + line;
            firstLine = false;
            line.clear();
        };
        for (std::string word; words >> word;) {
            if (!line.empty() && line.size() + 1 + word.size() > width) {
                flush();
            }
            line += (line.empty() ? "" : " ") + word;
        }
        flush();
    }
    return result;
}

std::string section(const std::string& title, const std::string& body) {
    return body.empty() ? std::string() : "\n" + title + ":\n" + body;
}

// "FILE", "[COMMAND]", "FILE...": how an argument is written in a usage line.
std::string usageOf(const CLI::Option* positional) {
    std::string text = positional->get_name(true, false);
    if (positional->get_expected_max() > 1) {
        text += "...";
    }
    return positional->get_required() ? text : "[" + text + "]";
}

bool isHelpOrVersion(const CLI::Option* option) {
    return option->check_lname("help") || option->check_lname("version");
}

// One entry of a list: `left` (an option, a command) and its description beside it from
// `column` on, or below it when `left` is too wide.
std::string listEntry(const std::string& left, const std::string& description,
                      std::size_t column = optionColumn) {
    std::string line = "  " + left;
    if (line.size() + 2 > column) {
        line += "\n" + std::string(column, ' ');
    } else {
        line += std::string(column - line.size(), ' ');
    }
    return line + wrapped(description, lineWidth - column, column) + "\n";
}

// The first sentence of a command's description: its line in the program's list of commands.
std::string firstSentence(const std::string& text) {
    const std::size_t end = text.find(". ");
    return end == std::string::npos ? text : text.substr(0, end + 1);
}

} // namespace

std::string HelpFormatter::make_help(const CLI::App* app, std::string name,
                                     CLI::AppFormatMode) const {
    const CLI::App* parent = app->get_parent();
    std::string text = wrapped(app->get_description(), lineWidth, 0) + "\n\n";

    const auto own =
        app->get_options([](const CLI::Option* option) { return option->nonpositional(); });
    const auto positionals =
        app->get_options([](const CLI::Option* option) { return option->get_positional(); });
    std::string options;
    for (const CLI::Option* option : own) {
        options += make_option(option, false);
    }

    if (parent == nullptr) {
        text += "Usage: " + name + " [OPTIONS] COMMAND [ARGUMENTS]\n";
        text += "       " + name + " help [COMMAND]\n";
        text += "       " + name + " --version\n";
        std::string commands;
        for (const CLI::App* command : app->get_subcommands({})) {
            commands += listEntry(command->get_name(), firstSentence(command->get_description()),
                                  commandColumn);
        }
        text += section("Commands (\"" + name + " help COMMAND\" explains one)", commands);
        text += section("Options (before or after the command)", options);
    } else {
        const std::string program = parent->get_name();
        text += "Usage: " + program + " [GLOBAL OPTIONS] " + app->get_name();
        // The help flag alone does not make "[OPTIONS]" worth showing.
        if (own.size() > 1) {
            text += " [OPTIONS]";
        }
        for (const CLI::Option* positional : positionals) {
            text += " " + usageOf(positional);
        }
        text += "\n";
        std::string arguments;
        for (const CLI::Option* positional : positionals) {
            arguments += make_option(positional, true);
        }
        text += section("Arguments", arguments);
        text += section("Options", options);
        std::string global;
        for (const CLI::Option* option : parent->get_options()) {
            if (option->nonpositional() && !isHelpOrVersion(option)) {
                global += make_option(option, false);
            }
        }
        text += section("Global options (before or after the command)", global);
    }
    if (!app->get_footer().empty()) {
        text += "\nExamples:\n" + app->get_footer() + "\n";
    }
    text += "\n" + wrapped(exitStatusText, lineWidth, 0) + "\n";
    return text;
}

std::string HelpFormatter::make_option(const CLI::Option* option, bool positional) const {
    std::string left = positional ? option->get_name(true, false) : option->get_name(false, true);
    // "-o,--output" reads better with a space.
    for (std::size_t comma = left.find(','); comma != std::string::npos;
         comma = left.find(',', comma + 2)) {
        left.insert(comma + 1, " ");
    }
    if (!positional) {
        left += make_option_opts(option);
    }
    return listEntry(left, make_option_desc(option));
}

std::string HelpFormatter::make_option_opts(const CLI::Option* option) const {
    // The value's name only: no validator names, defaults or "REQUIRED" run into it.
    if (option->get_type_size() == 0) {
        return {};
    }
    return " " + option->get_type_name();
}

std::string HelpFormatter::make_option_desc(const CLI::Option* option) const {
    std::string text = option->get_description();
    std::vector<std::string> excluded;
    for (const CLI::Option* other : option->get_excludes()) {
        excluded.push_back(other->get_name());
    }
    if (!excluded.empty()) {
        std::string names;
        for (std::size_t i = 0; i < excluded.size(); ++i) {
            names += (i == 0 ? "" : i + 1 == excluded.size() ? " or " : ", ") + excluded[i];
        }
        text += " Not with " + names + ".";
    }
    for (const CLI::Option* needed : option->get_needs()) {
        text += " Only with " + needed->get_name() + ".";
    }
    return text;
}

} // namespace pelwick
