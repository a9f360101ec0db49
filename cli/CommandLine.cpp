#include "CommandLine.h"

#include "HelpFormatter.h"

#include <CLI/CLI.hpp>

#include <array>
#include <cmath>
#include <cstdlib>
#include <utility>

namespace pelwick {

namespace {

// A number as a person gives it: finite, and within limits that keep every wait sensible (a sleep
// of 1e300 seconds overflows, a time-out of NaN never ends). The error is a plain sentence,
// without the limits' long decimal forms. The validator has no name of its own, so that the help
// shows the option's value name alone.
CLI::Validator numberBetween(double minimum, bool minimumAllowed, double maximum,
                             const std::string& sentence, bool whole = false) {
    return CLI::Validator(
        [=](std::string& input) -> std::string {
            const char* begin = input.c_str();
            char* end = nullptr;
            const double value = std::strtod(begin, &end);
            const bool number = end != begin && *end == '\0' && std::isfinite(value) &&
                                (!whole || std::floor(value) == value);
            const bool inRange = number &&
                                 (value > minimum || (minimumAllowed && value == minimum)) &&
                                 value <= maximum;
            return inRange ? std::string() : sentence + " (not \"" + input + "\").";
        },
        "");
}

// The examples of a command's help: the command line, then what it does.
std::string examples(std::initializer_list<std::pair<const char*, const char*>> entries) {
    std::string text;
    for (const auto& [command, meaning] : entries) {
        text += std::string(text.empty() ? "" : "\n") + "  " + command + "\n      " + meaning;
    }
    return text;
}

constexpr std::array<std::pair<CommandName, const char*>, 12> commandNames{{
    {CommandName::none, ""},
    {CommandName::ports, "ports"},
    {CommandName::info, "info"},
    {CommandName::simulate, "simulate"},
    {CommandName::backup, "backup"},
    {CommandName::flash, "flash"},
    {CommandName::verify, "verify"},
    {CommandName::checksum, "checksum"},
    {CommandName::demo, "demo"},
    {CommandName::batch, "batch"},
    {CommandName::help, "help"},
    {CommandName::version, "version"},
}};

} // namespace

const char* commandText(CommandName command) {
    for (const auto& [name, text] : commandNames) {
        if (name == command) {
            return text;
        }
    }
    return "";
}

void CommandLine::declare(CLI::App& app) {
    // Set first: every command made below takes the formatter and the help flag from the app.
    app.formatter(std::make_shared<HelpFormatter>());
    app.set_help_flag("-h,--help", "Show this help and exit.");
    app.description("Back up, flash and verify the firmware of HP Voyager calculators (15c CE, "
                    "16c CE, 12c) over the USB programming cable. Put the calculator in "
                    "programming mode first: hold ERASE, press RESET, release ERASE.");
    app.footer(examples({
        {"pelwick-cli info", "Identify the calculator on the cable."},
        {"pelwick-cli flash firmware.bin",
         "Back up the calculator's firmware, ask, then write and verify firmware.bin."},
        {"pelwick-cli --demo flash firmware.bin --json",
         "Try a command against a simulated calculator, with the result as JSON."},
    }));
    app.require_subcommand(0, 1);
    // Global options may also follow the command ("pelwick-cli info --demo").
    app.fallthrough();

    app.add_flag("-V,--version", versionAsked,
                 "Show the version, the commit it was built from and the flash "
                 "applet's size, and exit.");
    auto* deviceDirectory =
        app.add_option("--device-dir", global.deviceDirectory,
                       "Folder in which to look for serial ports. Default: /dev.")
            ->type_name("DIR");
    auto* port = app.add_option("--port", global.port,
                                "Use only this serial port; a link such as /dev/serial/by-id/… "
                                "is followed to the device behind it.")
                     ->type_name("PATH")
                     ->check(CLI::Validator(
                         [](std::string& input) {
                             return input.empty() ? std::string("Give the path of a serial port.")
                                                  : std::string();
                         },
                         ""));
    app.add_flag("--demo", global.demo,
                 "Talk to a simulated calculator inside this program instead of a cable.")
        ->excludes(deviceDirectory)
        ->excludes(port);
    app.add_option("--timeout", global.timeout,
                   "How long to wait for the calculator to answer: above 0, at most 600. "
                   "Default: 3.")
        ->type_name("SECONDS")
        ->check(numberBetween(0, false, 600,
                              "Give the seconds to wait as a number above 0 and at most 600"));
    app.add_option("--settle", global.settle,
                   "Pause after each flash applet command: 0 to 10. Default: 0.01 on a cable, 0 "
                   "with --demo.")
        ->type_name("SECONDS")
        ->check(numberBetween(0, true, 10, "Give the pause in seconds as a number from 0 to 10"));
    app.add_flag("--fast", global.fast,
                 "Flash without the settle pauses while the calculator keeps up (flash, batch and "
                 "demo): seconds instead of half a minute. At the first poll that times out or "
                 "reply that comes garbled, the write goes on at the standard pace and says so.");
    app.add_flag("--json", global.json,
                 "Write the result as JSON on standard output (batch: one line per unit and a "
                 "summary); progress and questions go to standard error. The fields are listed in "
                 "pelwick-cli(1).");
    auto* verbose = app.add_flag("-v,--verbose", global.verbose,
                                 "Trace on standard error, with timestamps, every port opened, "
                                 "command sent, reply size, pause and time-out (never the data).");
    app.add_flag("-q,--quiet", global.quiet,
                 "Show only errors, questions and the result: no progress.")
        ->excludes(verbose);

    auto* portsCommand = app.add_subcommand(
        "ports", "List the serial ports and which of them would be tried. Each port is shown "
                 "with whether it looks like the programming cable and the USB device behind "
                 "it.");
    portsCommand->footer(examples({
        {"pelwick-cli ports", "See whether the calculator's port is there and would be tried."},
        {"pelwick-cli ports --json", "The same as JSON, for a script."},
    }));

    auto* infoCommand = app.add_subcommand(
        "info", "Identify the calculator. Shows its port, monitor version, chip, "
                "identification registers and flash size.");
    infoCommand->footer(examples({
        {"pelwick-cli info", "Identify the calculator on the first port that answers."},
        {"pelwick-cli --port /dev/ttyACM1 info", "Ask on this port only."},
        {"pelwick-cli -v info", "Show every command and reply too, to diagnose a cable."},
    }));

    auto* simulateCommand = app.add_subcommand(
        "simulate", "Serve a simulated calculator on a pseudo-terminal. It runs until "
                    "interrupted, for trying pelwick-cli or the window without a calculator, and "
                    "prints the terminal's path.");
    simulateCommand
        ->add_option("--link", simulate.link,
                     "Also make a symbolic link to the terminal here; it is removed at the end.")
        ->type_name("PATH");
    simulateCommand
        ->add_option("--delay", simulate.delay,
                     "Simulated transfer time per 512 bytes: 0 to 10. Default: 0.01.")
        ->type_name("SECONDS")
        ->check(numberBetween(0, true, 10, "Give the delay in seconds as a number from 0 to 10"));
    simulateCommand->add_flag("--no-preload", simulate.noPreload,
                              "Start with an empty application region.");
    simulateCommand->footer(examples({
        {"pelwick-cli simulate --link /tmp/dev/ttyACM0",
         "Serve a calculator at /tmp/dev/ttyACM0 ..."},
        {"pelwick-cli --device-dir /tmp/dev info", "... and talk to it from another terminal."},
    }));

    auto* backupCommand = app.add_subcommand(
        "backup", "Save the calculator's firmware to a file. An existing file is never "
                  "replaced without --force.");
    auto* output = backupCommand
                       ->add_option("-o,--output", backup.output,
                                    "File to write. Default: a new file in the current folder, "
                                    "named after the firmware, its checksum and today's date.")
                       ->type_name("FILE");
    backupCommand
        ->add_flag("--force", backup.force,
                   "Replace FILE if it exists (never a folder, device or pipe).")
        ->needs(output);
    backupCommand->footer(examples({
        {"pelwick-cli backup", "Save the firmware under a name of its own in this folder."},
        {"pelwick-cli backup -o my-15c.bin", "Save it as my-15c.bin, unless that exists."},
    }));

    auto* flashCommand = app.add_subcommand(
        "flash", "Write a firmware image to the calculator and verify it. The file is read once; "
                 "the calculator's firmware is read, judged and backed up first, and nothing is "
                 "written before you confirm (or pass --yes).");
    flashCommand->add_option("FILE", flash.file, "Firmware image: a file of 114,688 bytes.")
        ->required();
    flashCommand->add_flag("-y,--yes", flash.yes, "Flash without asking for confirmation.");
    auto* backupDirectory =
        flashCommand
            ->add_option("--backup-dir", flash.backupDirectory,
                         "Keep the backup of the calculator's firmware in this folder. Default: "
                         "$XDG_DATA_HOME/pelwick/backups or ~/.local/share/pelwick/backups.")
            ->type_name("DIR");
    flashCommand
        ->add_flag("--no-backup", flash.noBackup, "Keep no backup of the calculator's firmware.")
        ->excludes(backupDirectory);
    flashCommand->footer(examples({
        {"pelwick-cli flash firmware.bin", "Back up, ask, then write and verify."},
        {"pelwick-cli flash firmware.bin --backup-dir ~/calculators",
         "Keep the backup in ~/calculators."},
        {"pelwick-cli flash firmware.bin --yes --json > result.json",
         "Flash from a script, without a question, and keep the result."},
    }));

    auto* verifyCommand = app.add_subcommand(
        "verify", "Check that the calculator holds a firmware image. Its firmware is read back "
                  "and compared byte for byte.");
    verifyCommand->add_option("FILE", verify.file, "Firmware image: a file of 114,688 bytes.")
        ->required();
    verifyCommand->footer(examples({
        {"pelwick-cli verify firmware.bin", "Compare the calculator's firmware with the file."},
    }));

    auto* checksumCommand = app.add_subcommand(
        "checksum", "Show the test-menu checksum of firmware files. Each file's checksum is the "
                    "one the calculator's test menu will show once it is flashed; what is known "
                    "of the firmware is shown too. Needs no calculator.");
    checksumCommand->add_option("FILE", checksum.files, "Firmware images.")->required();
    checksumCommand
        ->add_option("--against", checksum.against,
                     "Judge the files against this backup of the calculator's firmware.")
        ->type_name("BACKUP");
    checksumCommand->footer(examples({
        {"pelwick-cli checksum firmware.bin", "What the test menu will show after a flash."},
        {"pelwick-cli checksum new.bin --against backup.bin",
         "Whether new.bin fits the calculator that backup.bin came from."},
    }));

    auto* batchCommand = app.add_subcommand(
        "batch", "Flash every calculator that appears in programming mode. Each is backed up "
                 "(with --backup-dir), flashed and verified, one after another or all at once, "
                 "until interrupted or --count units are done. Exit status 1 when any unit "
                 "failed.");
    batchCommand->add_option("FILE", batch.file, "Firmware image: a file of 114,688 bytes.")
        ->required();
    batchCommand
        ->add_option("--backup-dir", batch.backupDirectory,
                     "Save each unit's firmware here first, as hp15c-YYYYMMDD-HHMMSS-NNN.bin.")
        ->type_name("DIR");
    batchCommand->add_flag("--parallel", batch.parallel,
                           "Handle every attached calculator at once, each on its own "
                           "connection.");
    batchCommand->add_option("--count", batch.count, "End after this many units: 1 to 1000000.")
        ->type_name("N")
        ->check(numberBetween(1, true, 1000000,
                              "Give the number of units as a whole number from 1 to 1000000",
                              true));
    batchCommand->footer(examples({
        {"pelwick-cli batch firmware.bin --backup-dir backups",
         "Back up and flash each calculator plugged in, until Ctrl-C."},
        {"pelwick-cli batch firmware.bin --parallel --count 10 --json > units.jsonl",
         "Flash ten calculators, all attached at once, with a JSON line per unit."},
    }));

    auto* demoCommand = app.add_subcommand(
        "demo", "Walk through the whole flow on a simulated calculator. Identify, back up, "
                "flash and verify, with nothing real written. The flash is paced as on a cable "
                "unless --fast is given.");
    demoCommand
        ->add_option("--delay", demo.delay,
                     "Simulated transfer time per 512 bytes: 0 to 1. Default: 0.01.")
        ->type_name("SECONDS")
        ->check(
            numberBetween(0, true, 1, "Give the transfer time in seconds as a number from 0 to 1"));
    demoCommand
        ->add_option("--folder", demo.folder,
                     "Where the backup and the sample image go. Default: a new temporary "
                     "folder.")
        ->type_name("DIR");
    demoCommand->footer(examples({
        {"pelwick-cli demo", "See the whole flow, at about the speed of a real cable."},
        {"pelwick-cli --fast demo --folder demo",
         "The same with fast transfer, keeping the files in demo."},
    }));

    auto* helpCommand = app.add_subcommand("help", "Show this help, or the help of one command.");
    helpCommand->add_option("COMMAND", help.command, "The command to explain.");
    helpCommand->footer(examples({{"pelwick-cli help flash", "Explain the flash command."}}));

    auto* versionCommand = app.add_subcommand(
        "version", "Show the version and how this program was built. The line also names the "
                   "commit it was built from and the flash applet's size.");
    versionCommand->footer(
        examples({{"pelwick-cli version", "The same as pelwick-cli --version."}}));
}

void CommandLine::resolveCommand(const CLI::App& app) {
    // --version answers whatever else is given, as it does everywhere.
    command = versionAsked ? CommandName::version : CommandName::none;
    for (const auto& [name, text] : commandNames) {
        if (command == CommandName::none && name != CommandName::none && app.got_subcommand(text)) {
            command = name;
        }
    }
}

} // namespace pelwick
