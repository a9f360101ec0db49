// pelwick-cli: back up, flash and verify HP Voyager calculators from a terminal or a script.
// Exit status: 0 done, 1 the operation failed (the reason on standard error), 2 wrong usage,
// 130 ended by an interrupt.

#include "CommandInterrupts.h"
#include "CommandLine.h"
#include "Commands.h"
#include "Console.h"

#include "device/FlasherError.h"
#include "device/SerialOpenHelp.h"
#include "util/FileIO.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <fcntl.h>
#include <iostream>
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
    }
    return usageStatus;
}

// A port that cannot be opened (not permitted, busy) gets one line of help under the error's own
// text: whose group the port is in and how to get in, or who holds it.
void printOpenHint(const pelwick::FlasherError& error, std::ostream& err) {
    if (const auto help = pelwick::serialOpenHelp(error.text(), error.openErrno())) {
        err << *help << '\n';
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

int runReportingFailures(const pelwick::CommandLine& line, pelwick::Console& console) {
    try {
        return runCommand(line, console);
    } catch (const pelwick::Interrupted& interrupted) {
        std::cout.flush();
        std::cerr << interrupted.what() << '\n';
        return pelwick::interruptedStatus;
    } catch (const pelwick::FlasherError& error) {
        std::cout.flush();
        std::cerr << error.errorDescription() << '\n';
        if (error.kind() == pelwick::FlasherError::Case::serialOpenFailed) {
            printOpenHint(error, std::cerr);
        }
        return failureStatus;
    } catch (...) {
        std::cout.flush();
        std::cerr << pelwick::currentExceptionMessage() << '\n';
        return failureStatus;
    }
}

} // namespace

int main(int argc, char** argv) {
    keepStandardStreamsOpen();
    // A reader of the output who goes away ("pelwick-cli flash … | head") makes the next write
    // fail, which is reported; it must never end the program in the middle of a flash.
    std::signal(SIGPIPE, SIG_IGN);

    CLI::App app("pelwick-cli", "pelwick-cli");
    pelwick::CommandLine line;
    line.declare(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : usageStatus;
    }
    line.resolveCommand(app);

    pelwick::Console console = pelwick::Console::standard();
    int status = runReportingFailures(line, console);
    // A result that could not be written is not a success.
    if (const auto failure = console.takeOutputFailure()) {
        std::cerr << *failure << '\n';
        status = status == 0 ? failureStatus : status;
    }
    return status;
}
