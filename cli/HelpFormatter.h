#pragma once

#include <CLI/CLI.hpp>

#include <string>

namespace pelwick {

/// Help written for people. Each command's help has its description, a usage line, its arguments
/// and options, the global options (which every command takes), its examples (the app's footer)
/// and the exit statuses. An option shows a readable value name only ("--timeout SECONDS"); its
/// limits, its default and the options it does not go with are sentences of its description.
/// Text is wrapped to 80 columns.
class HelpFormatter : public CLI::Formatter {
public:
    /// The line every help ends with.
    static constexpr const char* exitStatusText =
        "Exit status: 0 done, 1 failed (the reason on standard error), 2 wrong usage, 130 ended "
        "by an interrupt (Ctrl-C, SIGTERM, SIGHUP).";

    std::string make_help(const CLI::App* app, std::string name,
                          CLI::AppFormatMode mode) const override;
    std::string make_option(const CLI::Option* option, bool positional) const override;
    std::string make_option_opts(const CLI::Option* option) const override;
    std::string make_option_desc(const CLI::Option* option) const override;
};

} // namespace pelwick
