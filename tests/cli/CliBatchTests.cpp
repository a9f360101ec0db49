#include "BatchCalculator.h"
#include "CliProcess.h"

#include "samba/TransferPace.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

namespace pelwick::testing {
namespace {

const std::string cablePulledText = "The programming cable disconnected. Hold ERASE, press RESET, "
                                    "then release ERASE and wait for the port to reappear.";

struct UnitLine {
    std::string port;
    std::string chip;
    std::string backup; ///< the file name, or empty for "no backup"
    std::string result;
};

// The per-unit lines of a batch's output, by unit number; anything else is left out.
std::map<int, UnitLine> unitLines(const std::string& out) {
    static const std::regex pattern(
        R"(#(\d+)  (\S+)  (\S+)  (?:backup (\S+)|no backup)  (.+)  \d+\.\d s)");
    std::map<int, UnitLine> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
        std::smatch match;
        if (std::regex_match(line, match, pattern)) {
            lines[std::stoi(match[1])] = {match[2], match[3], match[4], match[5]};
        }
    }
    return lines;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A firmware image and a device folder holding `count` simulated calculators.
struct BatchSetup {
    TempDir folder;
    Bytes image = patternImage(99);
    std::filesystem::path imageFile = folder.write("image.bin", image);
    std::filesystem::path devices = folder / "dev";
    std::filesystem::path backups = folder / "backups";
    std::vector<std::unique_ptr<BatchCalculator>> calculators;

    explicit BatchSetup(int count, double delay = 0) {
        std::filesystem::create_directory(devices);
        std::filesystem::create_directory(backups);
        for (int i = 0; i < count; ++i) {
            calculators.push_back(std::make_unique<BatchCalculator>(
                devices, "ttyACM" + std::to_string(i), 10 + i, delay));
        }
    }

    std::vector<std::string> batch(std::vector<std::string> arguments) const {
        std::vector<std::string> args{"--device-dir", devices.string(),  "--settle", "0",
                                      "batch",        imageFile.string()};
        args.insert(args.end(), arguments.begin(), arguments.end());
        return args;
    }

    void stopAll() {
        for (auto& calculator : calculators) {
            calculator->stop();
        }
    }
};

TEST(CliBatch, RefusesABadFileOrFolderBeforeTouchingAnyPort) {
    BatchSetup bench(1);
    const auto small = bench.folder.write("small.bin", Bytes(100, 0x55));
    const auto empty = bench.folder.write("empty.bin", {});
    const std::string devices = bench.devices.string();

    const CliRun wrongSize =
        runCli({"--device-dir", devices, "batch", small.string(), "--count", "1"});
    EXPECT_EQ(wrongSize.status, 1);
    EXPECT_EQ(wrongSize.err, "Firmware is 100 bytes; expected 114688 bytes (0x1c000).\n");
    const CliRun emptyFile =
        runCli({"--device-dir", devices, "batch", empty.string(), "--count", "1"});
    EXPECT_EQ(emptyFile.status, 1);
    EXPECT_FALSE(emptyFile.err.empty());
    const auto absent = bench.folder / "absent.bin";
    const CliRun missing =
        runCli({"--device-dir", devices, "batch", absent.string(), "--count", "1"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Firmware file not found: " + absent.string() + "\n");
    // The same texts as "flash" gives.
    EXPECT_EQ(runCli({"--device-dir", devices, "flash", empty.string(), "--yes"}).err,
              emptyFile.err);

    const auto noFolder = bench.folder / "absent";
    const CliRun badFolder =
        runCli(bench.batch({"--backup-dir", noFolder.string(), "--count", "1"}));
    EXPECT_EQ(badFolder.status, 1);
    EXPECT_EQ(badFolder.err,
              "Could not write to " + noFolder.string() + ": No such file or directory.\n");
    const CliRun noDevices = runCli(
        {"--device-dir", noFolder.string(), "batch", bench.imageFile.string(), "--count", "1"});
    EXPECT_EQ(noDevices.status, 1);
    EXPECT_EQ(noDevices.err,
              "Could not list " + noFolder.string() + ": No such file or directory.\n");

    bench.stopAll();
    EXPECT_EQ(bench.calculators[0]->connections(), 0);
    EXPECT_EQ(bench.calculators[0]->application(), bench.calculators[0]->originalApplication());
    EXPECT_TRUE(std::filesystem::is_empty(bench.backups));
}

TEST(CliBatch, FlashesUnitsInTurnBacksEachUpAndReportsTheOneWhoseCableWasPulled) {
    BatchSetup bench(3);
    bench.calculators[1]->pullCableAtAppletRun(40);
    const CliRun run =
        runCli(bench.batch({"--backup-dir", bench.backups.string(), "--count", "3"}));
    bench.stopAll();
    EXPECT_EQ(run.status, 1) << run.err;

    const auto lines = unitLines(run.out);
    ASSERT_EQ(lines.size(), 3u) << run.out;
    std::smatch stamp;
    ASSERT_TRUE(
        std::regex_match(lines.at(1).backup, stamp, std::regex(R"(hp15c-(\d{8}-\d{6})-001\.bin)")))
        << lines.at(1).backup;
    for (int number = 1; number <= 3; ++number) {
        const UnitLine& line = lines.at(number);
        const BatchCalculator& calculator = *bench.calculators[number - 1];
        SCOPED_TRACE(number);
        EXPECT_EQ(line.port, calculator.link().string());
        EXPECT_EQ(line.chip, "ATSAM4LC2C");
        // Every unit was backed up first, under the batch's name, as it was before.
        const std::string name =
            "hp15c-" + stamp[1].str() + "-00" + std::to_string(number) + ".bin";
        EXPECT_EQ(line.backup, name);
        EXPECT_EQ(readWholeFile(bench.backups / name), calculator.originalApplication());
        EXPECT_EQ(calculator.bootloader(), calculator.originalBootloader());
        EXPECT_EQ(calculator.connections(), 1);
    }
    EXPECT_EQ(lines.at(1).result, "Flashed and verified.");
    EXPECT_EQ(lines.at(3).result, "Flashed and verified.");
    EXPECT_EQ(bench.calculators[0]->application(), bench.image);
    EXPECT_EQ(bench.calculators[2]->application(), bench.image);
    // The failed unit was cut off in the middle: partly new, partly old.
    EXPECT_EQ(lines.at(2).result, cablePulledText);
    const Bytes halfway = bench.calculators[1]->application();
    EXPECT_NE(halfway, bench.image);
    EXPECT_NE(halfway, bench.calculators[1]->originalApplication());
    EXPECT_TRUE(contains(run.out, "Batch finished: 2 done, 1 failed, total time "));

    // One at a time: each unit was first spoken to after the one before was done.
    for (int i = 1; i < 3; ++i) {
        EXPECT_LE(*bench.calculators[i - 1]->lastContact(), *bench.calculators[i]->firstContact());
    }
}

TEST(CliBatch, ParallelFlashesEveryAttachedCalculatorAtOnce) {
    // 1 ms per 512 bytes: long enough that four units clearly overlap.
    BatchSetup bench(4, 0.001);
    bench.calculators[2]->pullCableAtAppletRun(60);
    const CliRun run = runCli(bench.batch({"--parallel", "--count", "4"}));
    bench.stopAll();
    EXPECT_EQ(run.status, 1) << run.err;

    const auto lines = unitLines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    std::vector<BatchCalculator::Clock::time_point> firsts, lasts;
    for (int number = 1; number <= 4; ++number) {
        const BatchCalculator& calculator = *bench.calculators[number - 1];
        SCOPED_TRACE(number);
        EXPECT_EQ(lines.at(number).port, calculator.link().string());
        EXPECT_EQ(lines.at(number).backup, "");
        EXPECT_EQ(calculator.connections(), 1);
        if (number != 3) {
            EXPECT_EQ(lines.at(number).result, "Flashed and verified.");
            EXPECT_EQ(calculator.application(), bench.image);
            firsts.push_back(*calculator.firstContact());
            lasts.push_back(*calculator.lastContact());
        }
    }
    EXPECT_EQ(lines.at(3).result, cablePulledText);
    EXPECT_NE(bench.calculators[2]->application(), bench.image);
    EXPECT_TRUE(contains(run.out, "Batch finished: 3 done, 1 failed, total time "));
    // Every good unit had started before any of them was done.
    EXPECT_LT(*std::max_element(firsts.begin(), firsts.end()),
              *std::min_element(lasts.begin(), lasts.end()));
}

TEST(CliBatch, JsonGivesALinePerUnitAsItEndsThenASummary) {
    BatchSetup bench(3, 0.001);
    bench.calculators[1]->pullCableAtAppletRun(40);
    const CliRun run = runCli(bench.batch(
        {"--parallel", "--count", "3", "--json", "--backup-dir", bench.backups.string()}));
    bench.stopAll();
    EXPECT_EQ(run.status, 1) << run.err;

    std::vector<nlohmann::json> lines;
    std::istringstream stream(run.out);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    ASSERT_EQ(lines.size(), 4u) << run.out;
    const nlohmann::json& summary = lines.back();
    EXPECT_EQ(summary["type"], "summary");
    EXPECT_EQ(summary["command"], "batch");
    EXPECT_EQ(summary["ok"], false);
    EXPECT_EQ(summary["done"], 2);
    EXPECT_EQ(summary["failed"], 1);
    EXPECT_EQ(summary["error"]["kind"], "unitsFailed");
    std::set<int> numbers;
    for (std::size_t i = 0; i < 3; ++i) {
        const nlohmann::json& unit = lines[i];
        EXPECT_EQ(unit["type"], "unit");
        const int number = unit["unit"];
        numbers.insert(number);
        const BatchCalculator& calculator = *bench.calculators[number - 1];
        SCOPED_TRACE(number);
        EXPECT_EQ(unit["port"], calculator.link().string());
        EXPECT_EQ(unit["chip"], "ATSAM4LC2C");
        EXPECT_EQ(readWholeFile(unit["backup"].get<std::string>()),
                  calculator.originalApplication());
        if (number == 2) {
            EXPECT_EQ(unit["ok"], false);
            EXPECT_EQ(unit["result"], "incomplete");
            EXPECT_EQ(unit["error"]["kind"], "serialPortClosed");
            EXPECT_EQ(unit["error"]["message"], cablePulledText);
        } else {
            EXPECT_EQ(unit["ok"], true);
            EXPECT_EQ(unit["result"], "flashed");
            EXPECT_EQ(unit["error"], nullptr);
        }
    }
    EXPECT_EQ(numbers, (std::set<int>{1, 2, 3}));
}

TEST(CliBatch, AnInterruptFinishesTheUnitInProgressThenSummarises) {
    // 3 ms per 512 bytes: a unit takes over a second, time enough to interrupt it twice.
    BatchSetup bench(1, 0.003);
    BackgroundCli batch(bench.batch({}));
    std::string line;
    do {
        line = batch.readErrorLine(10);
    } while (!line.empty() && !line.starts_with("#1  "));
    ASSERT_EQ(line, "#1  " + bench.calculators[0]->link().string() + "  flashing…");
    batch.signal(SIGINT);
    EXPECT_EQ(batch.readErrorLine(10), "Stopping: finishing the unit in progress first…");
    batch.signal(SIGINT);
    EXPECT_EQ(batch.readErrorLine(10),
              "Still finishing the unit in progress; a flash is never cut off halfway.");
    const CliRun run = batch.wait();
    bench.stopAll();
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = unitLines(run.out);
    ASSERT_EQ(lines.size(), 1u) << run.out;
    EXPECT_EQ(lines.at(1).result, "Flashed and verified.");
    EXPECT_EQ(bench.calculators[0]->application(), bench.image);
    EXPECT_TRUE(contains(run.out, "Batch finished: 1 done, 0 failed, total time ")) << run.out;

    // With nothing in progress, an interrupt ends the batch at once.
    TempDir noDevices;
    BackgroundCli idle(
        {"--device-dir", noDevices.path().string(), "batch", bench.imageFile.string()});
    EXPECT_EQ(idle.readErrorLine(10).substr(0, 9), "Flashing ");
    EXPECT_EQ(idle.readErrorLine(10), "Press Ctrl-C to end the batch.");
    idle.signal(SIGTERM);
    const CliRun ended = idle.wait();
    EXPECT_EQ(ended.status, 0);
    EXPECT_TRUE(contains(ended.out, "Batch finished: 0 done, 0 failed, total time ")) << ended.out;
}

// A calculator that answers the poll of its last page late: a fast flash, and a fast batch, go
// on at the standard pace, flash and verify all the same, and say so once where notes go: among
// the notes (standard error with --json), after the unit's number in a batch, in the -v trace,
// not with -q; fellBack tells it in JSON.
TEST(CliFastTransfer, FallsBackOnceSaysSoAndSucceeds) {
    BatchSetup bench(1);
    const int lastPage = 1 + 14 + 224; // the applet's INIT, unlocks and pages
    const std::string notice = TransferPace::fallbackNotice;
    BatchCalculator& calculator = *bench.calculators[0];
    const auto count = [](const std::string& text, const std::string& part) {
        std::size_t n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    };
    const std::vector<std::string> device = {"--device-dir", bench.devices.string(), "--fast"};
    struct Case {
        std::vector<std::string> args;
        std::size_t inOut;
        std::size_t inErr;
    };
    const Case cases[] = {
        {{"flash", bench.imageFile.string(), "--yes", "--no-backup"}, 1, 0},
        {{"-q", "flash", bench.imageFile.string(), "--yes", "--no-backup"}, 0, 0},
        // The notice, and its line in the trace.
        {{"-v", "flash", bench.imageFile.string(), "--yes", "--no-backup"}, 1, 1},
        {{"--json", "flash", bench.imageFile.string(), "--yes", "--no-backup"}, 0, 1},
        {{"batch", bench.imageFile.string(), "--count", "1"}, 0, 1},
        {{"-q", "--json", "batch", bench.imageFile.string(), "--count", "1"}, 0, 0},
        {{"-v", "batch", bench.imageFile.string(), "--count", "1"}, 0, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = device;
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(c.args));
        calculator.delayAppletRun(lastPage, 1.5);
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(count(run.out, notice), c.inOut) << run.out;
        EXPECT_EQ(count(run.err, notice), c.inErr) << run.err;
        if (c.args[0] == "batch") {
            EXPECT_TRUE(contains(run.err, "\n#1  " + notice + "\n")) << run.err;
        }
        if (std::find(args.begin(), args.end(), "--json") != args.end()) {
            const auto firstLine = run.out.substr(0, run.out.find('\n'));
            EXPECT_EQ(nlohmann::json::parse(firstLine)["fellBack"], true) << run.out;
        }
    }
    bench.stopAll();
    EXPECT_EQ(calculator.application(), bench.image);
    EXPECT_EQ(calculator.bootloader(), calculator.originalBootloader());
}

TEST(CliBatch, WatchesOnlyANamedPortOrTheDemoCalculator) {
    BatchSetup bench(2);
    // A named port that can never be a cable is refused at once instead of being waited for.
    const CliRun notAPort =
        runCli({"--port", bench.imageFile.string(), "batch", bench.imageFile.string()});
    EXPECT_EQ(notAPort.status, 1);
    EXPECT_TRUE(contains(notAPort.err, bench.imageFile.string() + " is not a serial port."))
        << notAPort.err;

    // A named port is taken whatever its name.
    const auto namedLink = bench.folder / "calculator";
    std::filesystem::create_symlink(bench.calculators[1]->link(), namedLink);
    const CliRun named = runCli({"--port", namedLink.string(), "--settle", "0", "batch",
                                 bench.imageFile.string(), "--count", "1"});
    bench.stopAll();
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(unitLines(named.out).at(1).port, namedLink.string());
    EXPECT_EQ(bench.calculators[0]->connections(), 0);
    EXPECT_EQ(bench.calculators[1]->application(), bench.image);

    const CliRun demo = runCli({"--demo", "batch", bench.imageFile.string(), "--parallel",
                                "--count", "1", "--backup-dir", bench.backups.string()});
    EXPECT_EQ(demo.status, 0) << demo.err;
    const auto lines = unitLines(demo.out);
    ASSERT_EQ(lines.size(), 1u) << demo.out;
    EXPECT_EQ(lines.at(1).port, "/dev/cu.usbmodemDEMO");
    EXPECT_EQ(lines.at(1).result, "Flashed and verified.");
    EXPECT_TRUE(std::filesystem::exists(bench.backups / lines.at(1).backup));
}

} // namespace
} // namespace pelwick::testing
