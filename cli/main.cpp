// pelwick-cli: back up, flash and verify HP Voyager calculators from a terminal or a script.
// Exit status: 0 done, 1 the operation failed (the reason on standard error), 2 wrong usage,
// 130 ended by an interrupt.

#include "AsciiFallback.h"
#include "BuildInfo.h"
#include "CommandInterrupts.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"
#include "JsonReport.h"
#include "TraceLog.h"

#include "device/FlasherError.h"
#include "device/SerialOpenHelp.h"
#include "samba/SambaAppletImage.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <iostream>
#include <optional>
#include <unistd.h>

namespace {

constexpr int failureStatus = 1;
constexpr int usageStatus = 2;

int runCommand(const pelwick::CommandLine& line, pelwick::Console& console) {
    using pelwick::CommandName;
    switch (line.command) {
    case CommandName::ports:
        return pelwick::runPortsCommand(line.global, console);
    case CommandName::info:
        return pelwick::runInfoCommand(line.global, console);
    case CommandName::simulate:
        return pelwick::runSimulateCommand(line.simulate, console);
    case CommandName::backup:
        return pelwick::runBackupCommand(line.global, line.backup, console);
    case CommandName::flash:
        return pelwick::runFlashCommand(line.global, line.flash, console);
    case CommandName::verify:
        return pelwick::runVerifyCommand(line.global, line.verify, console);
    case CommandName::checksum:
        return pelwick::runChecksumCommand(line.checksum, console);
    case CommandName::demo:
        return pelwick::runDemoCommand(line.global, line.demo, console);
    case CommandName::batch:
        return pelwick::runBatchCommand(line.global, line.batch, console);
    case CommandName::version:
        return pelwick::runVersionCommand(console);
    case CommandName::none:
    case CommandName::help:
        break;
    }
    return usageStatus;
}

// A port that cannot be opened (not permitted, busy) gets one line of help under the error's own
// text: whose group the port is in and how to get in, or who holds it.
std::optional<std::string> openHint() {
    try {
        throw;
    } catch (const pelwick::FlasherError& error) {
        if (error.kind() == pelwick::FlasherError::Case::serialOpenFailed) {
            return pelwick::serialOpenHelp(error.text(), error.openErrno());
        }
    } catch (...) {
    }
    return std::nullopt;
}

bool wasInterrupted() {
    try {
        throw;
    } catch (const pelwick::Interrupted&) {
        return true;
    } catch (...) {
        return false;
    }
}

// A standard stream that was closed ("pelwick-cli info >&-") would otherwise be the number the
// next open file or serial port gets, and the output would go there. It becomes /dev/null, opened
// the wrong way round for output, so that writing it fails and is reported.
void keepStandardStreamsOpen() {
    for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (::fcntl(fd, F_GETFD) == -1) {
            ::open("/dev/null", O_RDONLY);
        }
    }
}

// With --json even a command line that could not be understood gets its JSON answer. The option
// is looked for before parsing, because the parse may fail before it reaches it.
bool asksForJson(int argc, char** argv) {
    for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
        if (std::strcmp(argv[i], "--json") == 0) {
            return true;
        }
    }
    return false;
}

int usageError(const pelwick::CommandLine& line, const std::string& message, bool json,
               const char* hint = "Run with --help for more information.") {
    std::cerr << message << '\n' << hint << '\n';
    if (json) {
        const char* command = pelwick::commandText(line.command);
        pelwick::JsonReport report(*command != '\0' ? pelwick::JsonReport::Json(command)
                                                    : pelwick::JsonReport::Json());
        report.write(std::cout, pelwick::ErrorDescription{"usage", message});
    }
    return usageStatus;
}

int showHelp(const CLI::App& app, const pelwick::CommandLine& line) {
    if (!line.help.command) {
        // app.help() would explain the help command itself, the one that was given.
        std::cout << app.get_formatter()->make_help(&app, app.get_name(),
                                                    CLI::AppFormatMode::Normal);
        return 0;
    }
    for (const CLI::App* command : app.get_subcommands({})) {
        if (command->get_name() == *line.help.command) {
            std::cout << command->help(app.get_name());
            return 0;
        }
    }
    return usageError(line, "There is no command \"" + *line.help.command + "\".", false,
                      "Run \"pelwick-cli help\" for the list of commands.");
}

int runReportingFailures(const pelwick::CommandLine& line, pelwick::Console& console) {
    try {
        const int status = runCommand(line, console);
        if (console.report) {
            console.report->write(console.out);
        }
        return status;
    } catch (...) {
        const pelwick::ErrorDescription error = pelwick::currentError();
        const std::optional<std::string> hint = openHint();
        const int status = wasInterrupted() ? pelwick::interruptedStatus : failureStatus;
        std::cout.flush();
        if (console.report) {
            console.report->write(console.out, error);
        }
        std::cerr << error.message << '\n';
        if (hint) {
            std::cerr << *hint << '\n';
        }
        return status;
    }
}

} // namespace

int main(int argc, char** argv) {
    keepStandardStreamsOpen();
    // A reader of the output who goes away ("pelwick-cli flash … | head") makes the next write
    // fail, which is reported; it must never end the program in the middle of a flash.
    std::signal(SIGPIPE, SIG_IGN);
    // A terminal that cannot show "…", "’", "—" or "·" gets ASCII stand-ins for them.
    std::optional<pelwick::AsciiFallback> asciiOut;
    std::optional<pelwick::AsciiFallback> asciiErr;
    if (!pelwick::userLocaleIsUtf8()) {
        asciiOut.emplace(std::cout);
        asciiErr.emplace(std::cerr);
    }

    CLI::App app("", "pelwick-cli");
    pelwick::CommandLine line;
    line.declare(app);
    const bool json = asksForJson(argc, argv);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error); // --help
        }
        line.resolveCommand(app);
        if (line.command == pelwick::CommandName::none &&
            dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && !app.remaining().empty()) {
            // The first word that is not an option names the command.
            return usageError(line, "There is no command \"" + app.remaining().front() + "\".",
                              json, "Run \"pelwick-cli help\" for the list of commands.");
        }
        return usageError(line, error.what(), json);
    }
    line.resolveCommand(app);

    using pelwick::CommandName;
    if (line.command == CommandName::none) {
        // A bare "pelwick-cli" is a question about how to use it, answered on standard error.
        std::cerr << app.help();
        if (json) {
            pelwick::JsonReport(pelwick::JsonReport::Json())
                .write(std::cout, pelwick::ErrorDescription{"usage", "No command was given."});
        }
        return usageStatus;
    }
    if (line.command == CommandName::help) {
        return showHelp(app, line);
    }
    if (line.command == CommandName::simulate && line.global.json) {
        return usageError(line,
                          "simulate writes no JSON: it prints the terminal's path and serves it "
                          "until interrupted.",
                          json);
    }

    pelwick::Console console = pelwick::Console::standard();
    console.quiet = line.global.quiet;
    if (line.global.json) {
        console.report = std::make_shared<pelwick::JsonReport>(pelwick::commandText(line.command));
    }
    if (line.global.verbose) {
        console.trace = std::make_shared<pelwick::TraceLog>(std::cerr);
    }
    int status = runReportingFailures(line, console);
    // A result that could not be written is not a success.
    if (const auto failure = console.takeOutputFailure()) {
        std::cerr << *failure << '\n';
        status = status == 0 ? failureStatus : status;
    }
    return status;
}
