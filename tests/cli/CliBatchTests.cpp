#include "BatchCalculator.h"
#include "CliProcess.h"

#include "samba/TransferPace.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sstream>

namespace pelwick::testing {
namespace {

using Json = nlohmann::json;

// A firmware image and a device folder holding `count` simulated calculators.
struct BatchSetup {
    TempDir folder;
    Bytes image = patternImage(99);
    std::filesystem::path imageFile = folder.write("image.bin", image);
    std::filesystem::path devices = folder / "dev";
    std::vector<std::unique_ptr<BatchCalculator>> calculators;

    explicit BatchSetup(int count, double delay = 0) {
        std::filesystem::create_directory(devices);
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

std::vector<Json> jsonLines(const std::string& out) {
    std::vector<Json> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(Json::parse(line));
    }
    return lines;
}

// Units in turn, or all at once (with --json): each is backed up first and flashed, and the one
// whose cable is pulled is reported as failed with its calculator left part-written.
TEST(CliBatch, FlashesEveryUnitAfterItsBackupAndReportsTheOneWhoseCableWasPulled) {
    for (const bool parallel : {false, true}) {
        SCOPED_TRACE(parallel ? "parallel" : "in turn");
        // 1 ms per 512 bytes: long enough that units at once clearly overlap.
        BatchSetup bench(3, 0.001);
        bench.calculators[1]->pullCableAtAppletRun(40);
        const auto backups = bench.folder / "backups";
        std::filesystem::create_directory(backups);
        std::vector<std::string> options{"--json", "--count", "3", "--backup-dir",
                                         backups.string()};
        if (parallel) {
            options.push_back("--parallel");
        }
        const CliRun run = runCli(bench.batch(options));
        bench.stopAll();
        EXPECT_EQ(run.status, 1) << run.err;
        const auto lines = jsonLines(run.out);
        ASSERT_EQ(lines.size(), 4u) << run.out;
        EXPECT_EQ(lines.back()["type"], "summary");
        EXPECT_EQ(lines.back()["done"], 2);
        EXPECT_EQ(lines.back()["failed"], 1);
        EXPECT_EQ(lines.back()["error"]["kind"], "unitsFailed");
        for (std::size_t i = 0; i < 3; ++i) {
            const Json& unit = lines[i];
            const int number = unit["unit"];
            const BatchCalculator& calculator = *bench.calculators[number - 1];
            SCOPED_TRACE(number);
            EXPECT_EQ(unit["port"], calculator.link().string());
            EXPECT_EQ(readWholeFile(unit["backup"].get<std::string>()),
                      calculator.originalApplication());
            EXPECT_EQ(calculator.bootloader(), calculator.originalBootloader());
            EXPECT_EQ(calculator.connections(), 1);
            const bool pulled = number == 2;
            EXPECT_EQ(unit["ok"], !pulled);
            EXPECT_EQ(unit["result"], pulled ? "incomplete" : "flashed");
            EXPECT_EQ(pulled ? unit["error"]["kind"] : unit["error"],
                      pulled ? Json("serialPortClosed") : Json());
            EXPECT_EQ(calculator.application() == bench.image, !pulled);
            EXPECT_EQ(calculator.application() == calculator.originalApplication(), false);
        }
        // In turn: each unit was first spoken to after the one before was done. At once: every
        // unit had started before any was done.
        const auto& first = *bench.calculators[0];
        const auto& third = *bench.calculators[2];
        EXPECT_EQ(*first.lastContact() <= *third.firstContact(), !parallel);
    }
}

TEST(CliBatch, NeverTouchesAnAttachedUnitTwiceAndTakesAReplugForANewUnit) {
    BatchSetup bench(3);
    BatchCalculator& first = *bench.calculators[0];
    BatchCalculator& second = *bench.calculators[1];
    BatchCalculator& third = *bench.calculators[2];
    third.unplug();
    CliProcess batch(bench.batch({"--json", "--count", "4"}));
    const auto nextPort = [&] { return Json::parse(batch.readOutputLine())["port"]; };
    EXPECT_EQ(nextPort(), first.link().string());
    EXPECT_EQ(nextPort(), second.link().string());
    // The first unplugged and another plugged in: once that one is done, the batch has seen the
    // first one gone, and takes it again as a new unit when it comes back.
    first.unplug();
    third.plugIn();
    EXPECT_EQ(nextPort(), third.link().string());
    first.plugIn();
    EXPECT_EQ(nextPort(), first.link().string());
    EXPECT_EQ(batch.wait().status, 0);
    bench.stopAll();
    EXPECT_EQ(first.connections(), 2);
    EXPECT_EQ(second.connections(), 1);
    EXPECT_EQ(third.connections(), 1);
}

TEST(CliBatch, AnInterruptFinishesTheUnitInProgressThenSummarises) {
    // 3 ms per 512 bytes: a unit takes over a second, time enough to interrupt it twice.
    BatchSetup bench(1, 0.003);
    CliProcess batch(bench.batch({"--json"}));
    ASSERT_TRUE(batch.waitForError("#1  "));
    batch.signal(SIGINT);
    ASSERT_TRUE(batch.waitForError("Stopping: "));
    batch.signal(SIGINT);
    const CliRun run = batch.wait();
    bench.stopAll();
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(lines[0]["result"], "flashed");
    EXPECT_EQ(lines[1]["done"], 1);
    EXPECT_EQ(bench.calculators[0]->application(), bench.image);

    // With nothing in progress, an interrupt ends the batch at once.
    TempDir noDevices;
    CliProcess idle({"--device-dir", noDevices.path().string(), "batch", bench.imageFile.string()});
    ASSERT_TRUE(idle.waitForError("Ctrl-C"));
    idle.signal(SIGTERM);
    EXPECT_EQ(idle.wait().status, 0);
}

TEST(CliBatch, ANamedPortIsTheOnlyOneWatched) {
    BatchSetup bench(2);
    // A named port is taken whatever its name.
    const auto namedLink = bench.folder / "calculator";
    std::filesystem::create_symlink(bench.calculators[1]->link(), namedLink);
    const CliRun named = runCli({"--port", namedLink.string(), "--settle", "0", "--json", "batch",
                                 bench.imageFile.string(), "--count", "1"});
    bench.stopAll();
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(jsonLines(named.out).at(0)["port"], namedLink.string());
    EXPECT_EQ(bench.calculators[0]->connections(), 0);
    EXPECT_EQ(bench.calculators[1]->application(), bench.image);
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
    const std::string image = bench.imageFile.string();
    struct Case {
        std::vector<std::string> args;
        std::size_t inOut;
        std::size_t inErr;
    };
    const Case cases[] = {
        {{"flash", image, "--yes", "--no-backup"}, 1, 0},
        {{"-q", "flash", image, "--yes", "--no-backup"}, 0, 0},
        // The notice, and its line in the trace.
        {{"-v", "flash", image, "--yes", "--no-backup"}, 1, 1},
        {{"--json", "flash", image, "--yes", "--no-backup"}, 0, 1},
        {{"batch", image, "--count", "1"}, 0, 1},
        {{"-q", "--json", "batch", image, "--count", "1"}, 0, 0},
        {{"-v", "batch", image, "--count", "1"}, 0, 2},
    };
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--device-dir", bench.devices.string(), "--fast"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(::testing::PrintToString(c.args));
        calculator.delayAppletRun(lastPage, 1.5);
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(count(run.out, notice), c.inOut) << run.out;
        EXPECT_EQ(count(run.err, notice), c.inErr) << run.err;
        if (c.args[0] == "batch") {
            EXPECT_EQ(count(run.err, "\n#1  " + notice + "\n"), 1u) << run.err;
        }
        if (std::find(args.begin(), args.end(), "--json") != args.end()) {
            EXPECT_EQ(jsonLines(run.out).at(0)["fellBack"], true) << run.out;
        }
    }
    bench.stopAll();
    EXPECT_EQ(calculator.application(), bench.image);
    EXPECT_EQ(calculator.bootloader(), calculator.originalBootloader());
}

} // namespace
} // namespace pelwick::testing
