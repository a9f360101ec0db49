// What scripts and people rely on besides the operations: the version line, JSON results, the
// trace, quiet output, ASCII under a locale that is not UTF-8, and the help and documentation of
// every command and option.

#include "CliProcess.h"
#include "CommandLine.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>

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

TEST(CliJson, EachCommandWritesOneDocumentWithItsFacts) {
    TempDir folder;
    const Bytes imageBytes = patternImage(21);
    const std::string image = folder.write("image.bin", imageBytes).string();
    const std::string checksum = VoyagerFirmwareChecksum::formattedOf(imageBytes);
    const std::string backup = (folder / "backup.bin").string();
    // Each --demo run has a calculator of its own, which holds what the backup holds.
    const std::pair<std::vector<std::string>, Json> cases[] = {
        {{"--demo", "--json", "ports"},
         {{"/ports/0/path", "/dev/cu.usbmodemDEMO"}, {"/ports/0/tried", true}}},
        {{"--demo", "--json", "info"},
         {{"/ok", true}, {"/chip", "ATSAM4LC2C"}, {"/cidr", "0xAB0A07E0"}, {"/supported", true}}},
        {{"--demo", "--json", "backup", "-o", backup},
         {{"/file", backup}, {"/calculator/checksum", "9090h"}, {"/calculator/known", true}}},
        {{"--json", "checksum", image, "--against", backup},
         {{"/against/checksum", "9090h"},
          {"/files/0/checksum", checksum},
          {"/files/0/verdict", "unrecognized"}}},
        {{"--demo", "--json", "verify", backup}, {{"/ok", true}, {"/checksum", "9090h"}}},
        {{"--demo", "--json", "flash", image, "--no-backup"},
         {{"/ok", false}, {"/result", "notWritten"}}},
    };
    for (const auto& [args, facts] : cases) {
        const Json doc = document(runCli(args));
        for (const auto& [pointer, value] : facts.items()) {
            EXPECT_EQ(doc[Json::json_pointer(pointer)], value) << pointer << " in " << doc;
        }
    }

    // Two calculators with the same firmware on the same day: the second backup gets a name of
    // its own, and the first stays.
    std::set<std::string> backups;
    for (int run = 0; run < 2; ++run) {
        const Json flashed = document(runCli(
            {"--demo", "--json", "flash", image, "--yes", "--backup-dir", folder.path().string()}));
        EXPECT_EQ(flashed["result"], "flashed") << flashed;
        EXPECT_EQ(flashed["fellBack"], false);
        EXPECT_EQ(flashed["firmware"]["checksum"], checksum);
        backups.insert(flashed["backup"].get<std::string>());
    }
    ASSERT_EQ(backups.size(), 2u);
    for (const std::string& file : backups) {
        EXPECT_EQ(readWholeFile(file), readWholeFile(backup)) << file;
    }
}

TEST(CliVerbosity, TheTraceShowsEveryCommandButNoDataAndQuietLeavesTheResult) {
    TempDir folder;
    // Firmware whose bytes are text that a trace with data in it would show.
    const auto image = folder.write("image.bin", Bytes(0x1C000, 'Z'));
    const auto flash = [&](const std::string& option) {
        return runCli({option, "--demo", "flash", image.string(), "--yes", "--no-backup"});
    };

    const CliRun traced = flash("-v");
    EXPECT_EQ(traced.status, 0) << traced.err;
    EXPECT_FALSE(contains(traced.err, "ZZZZZZZZ"));
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
    // Which locales are UTF-8 is the C library's to say; LANG counts when LC_ALL is empty.
    const std::vector<std::string> locale{"LC_ALL=", "LANG=C"};
    const CliRun run =
        runCli({"--demo", "backup", "-o", (folder / "b.bin").string()}, {.environment = locale});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "HP 15c Collector's Edition")) << run.out;
    EXPECT_TRUE(contains(run.err, "Reading firmware... 100%\n")) << run.err;
    const std::string all =
        run.out + run.err + runCli({"help", "info"}, {.environment = locale}).out;
    EXPECT_TRUE(std::all_of(all.begin(), all.end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x80; }));
}

// The help of every command and the manual page know each command and option.
TEST(CliDocs, EveryCommandAndOptionIsExplained) {
    // A bare command line is a usage error that shows the usage, and answers in JSON with --json.
    const CliRun bare = runCli({});
    EXPECT_EQ(bare.status, 2);
    EXPECT_TRUE(contains(bare.err, "\nUsage: pelwick-cli [OPTIONS] COMMAND")) << bare.err;
    EXPECT_EQ(document(runCli({"--json"}))["error"]["kind"], "usage");

    CLI::App app;
    CommandLine line;
    line.declare(app);
    std::vector<std::string> words;
    const auto addOptions = [&](const CLI::App& command) {
        for (const CLI::Option* option : command.get_options()) {
            std::ranges::transform(option->get_lnames(), std::back_inserter(words),
                                   [](const std::string& name) { return "--" + name; });
            std::ranges::transform(option->get_snames(), std::back_inserter(words),
                                   [](const std::string& name) { return "-" + name; });
        }
    };
    addOptions(app);
    for (const CLI::App* command : app.get_subcommands({})) {
        const std::string name = command->get_name();
        words.push_back(name);
        addOptions(*command);
        const CliRun help = runCli({"help", name});
        EXPECT_EQ(help.status, 0) << name;
        EXPECT_EQ(runCli({name, "--help"}).out, help.out) << name;
        // The global options, examples and exit statuses in every command's help.
        for (const char* part : {"Global options", "--timeout SECONDS", "Examples:\n  pelwick-cli ",
                                 "Exit status: 0 done, 1 failed"}) {
            EXPECT_TRUE(contains(help.out, part)) << name << " lacks " << part;
        }
    }
    // The manual page names each of them, with its hyphens escaped for roff.
    std::ifstream file(std::string(PELWICK_SOURCE_DIR) + "/packaging/pelwick-cli.1");
    const std::string manual{std::istreambuf_iterator<char>(file), {}};
    ASSERT_FALSE(manual.empty());
    for (const std::string& word : words) {
        EXPECT_TRUE(contains(manual, std::regex_replace(word, std::regex("-"), "\\-"))) << word;
    }
}

} // namespace
} // namespace pelwick::testing
