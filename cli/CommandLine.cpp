#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace pelwick {

namespace {

// A number of seconds as a person gives it: finite, and within limits that keep every wait
// sensible (a sleep of 1e300 seconds overflows, a time-out of NaN never ends). The error is a
// plain sentence, without the limits' long decimal forms.
CLI::Validator secondsBetween(double minimum, bool minimumAllowed, double maximum,
                              const std::string& sentence) {
    return CLI::Validator(
        [=](std::string& input) -> std::string {
            const char* begin = input.c_str();
            char* end = nullptr;
            const double value = std::strtod(begin, &end);
            const bool number = end != begin && *end == '\0' && std::isfinite(value);
            const bool inRange = number &&
                                 (value > minimum || (minimumAllowed && value == minimum)) &&
                                 value <= maximum;
            return inRange ? std::string() : sentence + " (not \"" + input + "\").";
        },
        "SECONDS");
}

constexpr std::array<std::pair<CommandName, const char*>, 9> commandNames{{
    {CommandName::ports, "ports"},
    {CommandName::info, "info"},
    {CommandName::simulate, "simulate"},
    {CommandName::backup, "backup"},
    {CommandName::flash, "flash"},
    {CommandName::verify, "verify"},
    {CommandName::checksum, "checksum"},
    {CommandName::demo, "demo"},
    {CommandName::batch, "batch"},
}};

} // namespace

void CommandLine::declare(CLI::App& app) {
    app.description("Back up, flash and verify the firmware of HP Voyager calculators (15c CE, "
                    "16c CE, 12c) over the USB programming cable.");
    app.footer("Exit status: 0 done, 1 failed (the reason on standard error), 2 wrong usage, 130 "
               "ended by an interrupt (Ctrl-C, SIGTERM, SIGHUP).");
    app.require_subcommand(1);
    // Global options may also follow the command ("pelwick-cli info --demo").
    app.fallthrough();

    auto* deviceDirectory =
        app.add_option("--device-dir", global.deviceDirectory, "Folder that lists serial ports")
            ->type_name("DIR")
            ->capture_default_str();
    auto* port = app.add_option("--port", global.port,
                                "Use only this serial port (a link such as /dev/serial/by-id/… "
                                "is followed)")
                     ->type_name("PATH")
                     ->check(CLI::Validator(
                         [](std::string& input) {
                             return input.empty() ? std::string("Give the path of a serial port.")
                                                  : std::string();
                         },
                         ""));
    app.add_flag("--demo", global.demo,
                 "Talk to a simulated calculator inside this process instead of a cable")
        ->excludes(deviceDirectory)
        ->excludes(port);
    app.add_option("--timeout", global.timeout,
                   "Seconds to wait for the calculator to answer (above 0, at most 600)")
        ->type_name("SECONDS")
        ->check(secondsBetween(0, false, 600,
                               "Give the seconds to wait as a number above 0 and at most 600"))
        ->capture_default_str();
    app.add_option("--settle", global.settle,
                   "Pause after each flash applet command, at most 10 (default 0.01 on a cable, 0 "
                   "with --demo)")
        ->type_name("SECONDS")
        ->check(secondsBetween(0, true, 10, "Give the pause in seconds as a number from 0 to 10"));
    app.add_flag("--fast", global.fast,
                 "Flash without the settle pauses while the calculator keeps up; at the first "
                 "poll that times out or reply that comes garbled, go on at the standard pace "
                 "(and say so)");

    app.add_subcommand("ports", "List serial ports and which of them look like the cable");
    app.add_subcommand("info", "Identify the calculator's chip and monitor");

    auto* simulateCommand = app.add_subcommand(
        "simulate", "Serve a simulated calculator on a pseudo-terminal until interrupted");
    simulateCommand
        ->add_option("--link", simulate.link,
                     "Also make a symbolic link to the terminal here (removed on exit)")
        ->type_name("PATH");
    simulateCommand->add_option("--delay", simulate.delay, "Simulated transfer time per 512 bytes")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber)
        ->capture_default_str();
    simulateCommand->add_flag("--no-preload", simulate.noPreload,
                              "Start with an empty application region");

    auto* backupCommand =
        app.add_subcommand("backup", "Read the calculator's firmware and save it to a file");
    auto* output = backupCommand
                       ->add_option("-o,--output", backup.output,
                                    "File to write (default: a new name made from the checksum "
                                    "and today's date)")
                       ->type_name("FILE");
    backupCommand
        ->add_flag("--force", backup.force,
                   "Replace FILE if it exists (never a folder, device or pipe)")
        ->needs(output);

    auto* flashCommand =
        app.add_subcommand("flash", "Write a 114,688-byte firmware image and verify it");
    flashCommand->add_option("FILE", flash.file, "Firmware image")->required();
    flashCommand->add_flag("-y,--yes", flash.yes, "Flash without asking for confirmation");
    auto* backupDirectory =
        flashCommand
            ->add_option("--backup-dir", flash.backupDirectory,
                         "Save the calculator's current firmware in this folder first (default: "
                         "$XDG_DATA_HOME/pelwick/backups or ~/.local/share/pelwick/backups)")
            ->type_name("DIR");
    flashCommand
        ->add_flag("--no-backup", flash.noBackup,
                   "Keep no backup of the calculator's current firmware")
        ->excludes(backupDirectory);

    auto* verifyCommand =
        app.add_subcommand("verify", "Check that the calculator holds a firmware image");
    verifyCommand->add_option("FILE", verify.file, "Firmware image")->required();

    auto* checksumCommand = app.add_subcommand(
        "checksum", "Show the test-menu checksum of firmware files and what is known of them");
    checksumCommand->add_option("FILE", checksum.files, "Firmware images")->required();
    checksumCommand
        ->add_option("--against", checksum.against,
                     "Judge the files against this backup of the calculator's firmware")
        ->type_name("BACKUP");

    auto* batchCommand = app.add_subcommand(
        "batch", "Flash and verify every calculator that appears in programming mode, until "
                 "interrupted");
    batchCommand->add_option("FILE", batch.file, "Firmware image")->required();
    batchCommand
        ->add_option("--backup-dir", batch.backupDirectory,
                     "Save each unit's current firmware here first, as "
                     "hp15c-YYYYMMDD-HHMMSS-NNN.bin")
        ->type_name("DIR");
    batchCommand->add_flag("--parallel", batch.parallel,
                           "Handle every attached calculator at once, each on its own connection");
    batchCommand->add_option("--count", batch.count, "End after this many units")
        ->type_name("N")
        ->check(CLI::PositiveNumber);

    auto* demoCommand = app.add_subcommand(
        "demo", "Walk through identify, back up, flash and verify on a simulated calculator");
    demoCommand->add_option("--delay", demo.delay, "Simulated transfer time per 512 bytes")
        ->type_name("SECONDS")
        ->check(secondsBetween(0, true, 1,
                               "Give the transfer time in seconds as a number from 0 "
                               "to 1"))
        ->capture_default_str();
    demoCommand
        ->add_option("--folder", demo.folder,
                     "Where the backup and the sample image go (default: a new temporary folder)")
        ->type_name("DIR");
}

void CommandLine::resolveCommand(const CLI::App& app) {
    for (const auto& [name, text] : commandNames) {
        if (app.got_subcommand(text)) {
            command = name;
            return;
        }
    }
}

} // namespace pelwick
