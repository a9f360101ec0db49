// What scripts and people rely on besides the operations: the version line, help, JSON results,
// the trace, quiet output, ASCII under a locale that is not UTF-8, and the documentation of every
// option.

#include "CliProcess.h"
#include "CommandLine.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

namespace pelwick::testing {
namespace {

using Json = nlohmann::json;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Standard output of a --json run: exactly one line holding one JSON object.
Json document(const CliRun& run) {
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1) << run.out;
    return Json::parse(run.out);
}

TEST(CliVersion, IsOneLineWithTheVersionCommitAndAppletSize) {
    const std::regex line(R"(pelwick-cli \d+\.\d+\.\d+ \(commit ([0-9a-f]{12}(-dirty)?|unknown), )"
                          R"(flash applet 2652 bytes\)\n)");
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, {"-V"}, {"version"}, {"--demo", "info", "-V"}}) {
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 0) << args[0];
        EXPECT_TRUE(std::regex_match(run.out, line)) << run.out;
    }
}

TEST(CliHelp, EveryCommandExplainsItselfForPeople) {
    // A bare command line is a usage error that shows the usage, and answers in JSON with --json.
    const CliRun bare = runCli({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_EQ(bare.out, "");
    EXPECT_TRUE(contains(bare.err, "\nUsage: pelwick-cli [OPTIONS] COMMAND")) << bare.err;
    EXPECT_EQ(document(runCli({"--json"}))["error"]["kind"], "usage");
    EXPECT_EQ(runCli({"help", "frobnicate"}).status, 2);

    for (const char* command : {"ports", "info", "simulate", "backup", "flash", "verify",
                                "checksum", "batch", "demo", "help", "version"}) {
        SCOPED_TRACE(command);
        const CliRun help = runCli({"help", command});
        EXPECT_EQ(help.status, 0);
        EXPECT_EQ(runCli({command, "--help"}).out, help.out);
        // The global options, examples and exit statuses in every command's help.
        for (const char* part : {"Global options", "--timeout SECONDS", "Examples:\n  pelwick-cli ",
                                 "Exit status: 0 done, 1 failed"}) {
            EXPECT_TRUE(contains(help.out, part)) << part << "\n" << help.out;
        }
        // No value names run into validator names, defaults or markers.
        for (const char* clutter : {"REQUIRED", "TEXT", ":SECONDS", "Excludes:", "Needs:", "=3"}) {
            EXPECT_FALSE(contains(help.out, clutter)) << clutter << "\n" << help.out;
        }
        std::istringstream lines(help.out);
        for (std::string line; std::getline(lines, line);) {
            // Characters, not bytes: "…" is one column.
            EXPECT_LE(
                std::count_if(line.begin(), line.end(), [](char c) { return (c & 0xC0) != 0x80; }),
                80)
                << line;
        }
    }
}

TEST(CliJson, EachCommandWritesOneDocumentWithItsFacts) {
    TempDir folder;
    const Bytes imageBytes = patternImage(21);
    const auto image = folder.write("image.bin", imageBytes);
    const std::string checksum = VoyagerFirmwareChecksum::formattedOf(imageBytes);
    const auto backup = folder / "backup.bin";

    const Json ports = document(runCli({"--demo", "ports", "--json"}));
    EXPECT_EQ(ports["ports"][0]["path"], "/dev/cu.usbmodemDEMO");
    EXPECT_EQ(ports["ports"][0]["tried"], true);

    const Json info = document(runCli({"--demo", "--json", "info"}));
    EXPECT_EQ(info["ok"], true);
    EXPECT_EQ(info["chip"], "ATSAM4LC2C");
    EXPECT_EQ(info["cidr"], "0xAB0A07E0");
    EXPECT_EQ(info["supported"], true);

    const Json saved = document(runCli({"--demo", "--json", "backup", "-o", backup.string()}));
    EXPECT_EQ(saved["file"], backup.string());
    EXPECT_EQ(saved["calculator"]["checksum"], "9090h");
    EXPECT_EQ(saved["calculator"]["known"], true);

    const Json sums =
        document(runCli({"--json", "checksum", image.string(), "--against", backup.string()}));
    EXPECT_EQ(sums["against"]["checksum"], "9090h");
    EXPECT_EQ(sums["files"][0]["checksum"], checksum);
    EXPECT_EQ(sums["files"][0]["verdict"], "unrecognized");

    // Two calculators with the same firmware on the same day: the second backup gets a name of
    // its own, and the first stays.
    std::set<std::string> backups;
    for (int run = 0; run < 2; ++run) {
        const Json flashed = document(runCli({"--demo", "--json", "flash", image.string(), "--yes",
                                              "--backup-dir", folder.path().string()}));
        EXPECT_EQ(flashed["result"], "flashed") << flashed;
        EXPECT_EQ(flashed["fellBack"], false);
        EXPECT_EQ(flashed["firmware"]["checksum"], checksum);
        backups.insert(flashed["backup"].get<std::string>());
    }
    ASSERT_EQ(backups.size(), 2u);
    for (const std::string& file : backups) {
        EXPECT_EQ(readWholeFile(file), readWholeFile(backup)) << file;
    }

    // Each --demo run has a calculator of its own, which holds what the backup above holds.
    const Json verified = document(runCli({"--demo", "--json", "verify", backup.string()}));
    EXPECT_EQ(verified["ok"], true);
    EXPECT_EQ(verified["checksum"], "9090h");

    const Json demo = document(runCli(
        {"--json", "--fast", "demo", "--delay", "0", "--folder", (folder / "demo").string()}));
    EXPECT_EQ(demo["result"], "flashed");
    EXPECT_EQ(demo["fellBack"], false);
    EXPECT_EQ(readWholeFile(demo["backup"].get<std::string>()), readWholeFile(backup));

    const Json notConfirmed =
        document(runCli({"--json", "--demo", "flash", image.string(), "--no-backup"}));
    EXPECT_EQ(notConfirmed["result"], "notWritten");
}

TEST(CliVerbosity, TheTraceShowsEveryCommandButNoDataAndQuietLeavesTheResult) {
    TempDir folder;
    // Firmware whose bytes are text that a trace with data in it would show.
    Bytes imageBytes(0x1C000);
    const std::string marker = "FIRMWARE-BYTES-";
    for (std::size_t i = 0; i < imageBytes.size(); ++i) {
        imageBytes[i] = static_cast<std::uint8_t>(marker[i % marker.size()]);
    }
    const auto image = folder.write("image.bin", imageBytes);
    const auto flash = [&](const std::string& option) {
        return runCli({option, "--demo", "flash", image.string(), "--yes", "--no-backup"});
    };

    const CliRun traced = flash("-v");
    EXPECT_EQ(traced.status, 0) << traced.err;
    EXPECT_FALSE(contains(traced.err, marker.substr(0, 8)));
    // Each event on a line of its own, after the time stamp.
    for (const char* event :
         {"open /dev/cu.usbmodemDEMO\n", "send N#\n", "send V#\n", "send w400E0740,4#\n",
          "send G20002000#\n", "data 512 bytes\n", "reply 4096 bytes after ", "close\n"}) {
        EXPECT_TRUE(std::regex_search(
            traced.err, std::regex(R"((^|\n)\[ *\d+\.\d{6}\] )" + std::string(event))))
            << event;
    }

    const CliRun quiet = flash("-q");
    EXPECT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.err, "");
    EXPECT_TRUE(std::regex_match(quiet.out,
                                 std::regex(R"(Flashed and verified\. \(\d+\.\d s\)\nAfter a )"
                                            R"(restart the test menu should show: ChE - - .*\n)")))
        << quiet.out;
}

TEST(CliLocale, WithoutUtf8TheTextsGetAsciiStandIns) {
    TempDir folder;
    const std::vector<std::string> args{"--demo", "backup", "-o", (folder / "b.bin").string(),
                                        "--force"};
    for (const std::vector<std::string>& locale :
         {std::vector<std::string>{"LC_ALL=C"}, {"LC_ALL=POSIX"}, {"LC_ALL=", "LANG=C"}}) {
        SCOPED_TRACE(locale.back());
        const CliRun run = runCli(args, {.environment = locale});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(contains(run.out, "HP 15c Collector's Edition")) << run.out;
        EXPECT_TRUE(contains(run.err, "Reading firmware... 100%\n")) << run.err;
        const std::string all =
            run.out + run.err + runCli({"help", "info"}, {.environment = locale}).out;
        EXPECT_TRUE(std::all_of(all.begin(), all.end(),
                                [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
    }
    const CliRun utf8 = runCli(args);
    EXPECT_TRUE(contains(utf8.out, "HP 15c Collector\u2019s Edition"));
    EXPECT_TRUE(contains(utf8.err, "Reading firmware\u2026 100%\n"));
}

TEST(CliDocs, TheManualPageAndEveryCompletionKnowEachCommandAndOption) {
    CLI::App app;
    CommandLine line;
    line.declare(app);
    std::vector<std::string> words;
    const auto addOptions = [&](const CLI::App& command) {
        for (const CLI::Option* option : command.get_options()) {
            for (const std::string& name : option->get_lnames()) {
                words.push_back("--" + name);
            }
            for (const std::string& name : option->get_snames()) {
                words.push_back("-" + name);
            }
        }
    };
    addOptions(app);
    for (const CLI::App* command : app.get_subcommands({})) {
        words.push_back(command->get_name());
        addOptions(*command);
    }
    // How each file writes an option: roff escapes its hyphens, fish names it without them.
    const std::pair<std::string, std::function<std::string(const std::string&)>> files[] = {
        {"pelwick-cli.1",
         [](std::string word) { return std::regex_replace(word, std::regex("-"), "\\-"); }},
        {"completions/pelwick-cli.bash", [](const std::string& word) { return word; }},
        {"completions/_pelwick-cli", [](const std::string& word) { return word; }},
        {"completions/pelwick-cli.fish",
         [](const std::string& word) {
             return word.starts_with("--")  ? "-l " + word.substr(2)
                    : word.starts_with("-") ? "-s " + word.substr(1)
                                            : word;
         }},
    };
    for (const auto& [name, written] : files) {
        std::ifstream file(std::string(PELWICK_SOURCE_DIR) + "/packaging/" + name);
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        ASSERT_FALSE(text.empty()) << name;
        for (const std::string& word : words) {
            EXPECT_TRUE(contains(text, written(word))) << name << " lacks " << word;
        }
    }
}

} // namespace
} // namespace pelwick::testing
