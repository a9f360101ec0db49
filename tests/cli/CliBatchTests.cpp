#include "BatchCalculator.h"
#include "CliProcess.h"

#include "samba/TransferPace.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <algorithm>
#include <csignal>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>
#include <tuple>

namespace pelwick::testing {
namespace {

using Json = nlohmann::json;

std::vector<Json> jsonLines(const std::string& out) {
    std::vector<Json> lines;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(Json::parse(line));
    }
    return lines;
}

// All units at once: each is backed up first and flashed, and the one whose cable is pulled is
// reported as failed with its calculator left part-written. Units in turn share the unit's work and
// differ only in when the next one starts.
TEST(CliBatch, FlashesEveryUnitAfterItsBackupAndReportsTheOneWhoseCableWasPulled) {
    CalculatorBench bench(3);
    bench.calculators[1]->pullCableAtAppletRun(40);
    const CliRun run = runCli(bench.run("batch", {"--json", "--count", "3", "--parallel",
                                                  "--backup-dir", bench.folder.path().string()}));
    bench.stopAll();
    EXPECT_EQ(run.status, 1) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 4u) << run.out;
    const Json& summary = lines.back();
    EXPECT_EQ(Json::array(
                  {summary["type"], summary["done"], summary["failed"], summary["error"]["kind"]}),
              Json::array({"summary", 2, 1, "unitsFailed"}));
    for (std::size_t i = 0; i < 3; ++i) {
        const Json& unit = lines[i];
        const int number = unit["unit"];
        const BatchCalculator& calculator = *bench.calculators[number - 1];
        SCOPED_TRACE(number);
        EXPECT_EQ(unit["port"], calculator.link().string());
        EXPECT_EQ(readWholeFile(unit["backup"].get<std::string>()),
                  calculator.originalApplication());
        calculator.chip().expectBootloaderUntouched();
        EXPECT_EQ(calculator.connections(), 1);
        const bool pulled = number == 2;
        EXPECT_EQ(Json::array(
                      {unit["ok"], unit["result"], pulled ? unit["error"]["kind"] : unit["error"]}),
                  pulled ? Json::array({false, "incomplete", "serialPortClosed"})
                         : Json::array({true, "flashed", nullptr}));
        const Bytes application = calculator.chip().application();
        EXPECT_EQ(application == bench.image, !pulled);
        EXPECT_NE(application, calculator.originalApplication());
    }
}

TEST(CliBatch, NeverTouchesAnAttachedUnitTwiceAndTakesAReplugForANewUnit) {
    CalculatorBench bench(3);
    BatchCalculator& first = *bench.calculators[0];
    BatchCalculator& third = *bench.calculators[2];
    third.unplug();
    CliProcess batch(bench.run("batch", {"--json", "--count", "4"}));
    const auto nextPort = [&] { return Json::parse(batch.readOutputLine())["port"]; };
    EXPECT_EQ(nextPort(), first.link().string());
    EXPECT_EQ(nextPort(), bench.calculators[1]->link().string());
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
    EXPECT_EQ(bench.calculators[1]->connections(), 1);
    EXPECT_EQ(third.connections(), 1);
}

// A named port is taken whatever its name, and is the only one watched.
TEST(CliBatch, AnInterruptFinishesTheUnitInProgressThenSummarises) {
    // 3 ms per 512 bytes: a unit takes over a second, time enough to interrupt it twice.
    CalculatorBench bench(2, 0.003);
    const auto named = bench.folder / "calculator";
    std::filesystem::create_symlink(bench.calculators[1]->link(), named);
    CliProcess batch(
        {"--port", named.string(), "--settle", "0", "--json", "batch", bench.imageFile.string()});
    ASSERT_TRUE(batch.waitForError("#1  "));
    batch.signal(SIGINT);
    ASSERT_TRUE(batch.waitForError("Stopping: "));
    batch.signal(SIGINT);
    const CliRun run = batch.wait();
    bench.stopAll();
    EXPECT_EQ(run.status, 0) << run.err;
    const auto lines = jsonLines(run.out);
    ASSERT_EQ(lines.size(), 2u) << run.out;
    EXPECT_EQ(Json::array({lines[0]["port"], lines[0]["result"], lines[1]["done"]}),
              Json::array({named.string(), "flashed", 1}));
    EXPECT_EQ(bench.calculators[1]->chip().application(), bench.image);
    EXPECT_EQ(bench.calculators[0]->connections(), 0);

    // With nothing in progress, an interrupt ends the batch at once.
    TempDir noDevices;
    CliProcess idle({"--device-dir", noDevices.path().string(), "batch", bench.imageFile.string()});
    ASSERT_TRUE(idle.waitForError("Ctrl-C"));
    idle.signal(SIGTERM);
    EXPECT_EQ(idle.wait().status, 0);
}

// A calculator that answers the poll of its last page late: a fast flash, and a fast batch, go
// on at the standard pace, flash and verify all the same, and say so once where notes go: among
// the notes (standard error with --json), after the unit's number in a batch, not with -q;
// fellBack tells it in JSON.
TEST(CliFastTransfer, FallsBackOnceSaysSoAndSucceeds) {
    CalculatorBench bench;
    // Without a settle time, there are no pauses for the fast pace to leave out.
    bench.settle = "0.01";
    const std::string notice = TransferPace::fallbackNotice;
    const auto count = [](const std::string& text, const std::string& part) {
        const std::regex pattern(part);
        return std::distance(std::sregex_iterator(text.begin(), text.end(), pattern),
                             std::sregex_iterator());
    };
    // The command, its options, and how often the notice shows on standard output and error.
    const std::tuple<std::string, std::vector<std::string>, int, int> cases[] = {
        {"flash", {"--fast", "--yes", "--no-backup"}, 1, 0},
        {"flash", {"--fast", "--yes", "--no-backup", "-q"}, 0, 0},
        {"flash", {"--fast", "--yes", "--no-backup", "--json"}, 0, 1},
        {"batch", {"--fast", "--count", "1"}, 0, 1},
        {"batch", {"--fast", "--count", "1", "-q", "--json"}, 0, 0},
    };
    for (const auto& [command, options, inOut, inErr] : cases) {
        const std::vector<std::string> args = bench.run(command, options);
        SCOPED_TRACE(::testing::PrintToString(args));
        // The last page: after the applet's INIT, unlocks and pages.
        bench.calculators[0]->delayAppletRun(1 + 14 + 224, 1.5);
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(count(run.out, notice), inOut) << run.out;
        EXPECT_EQ(count(run.err, notice), inErr) << run.err;
        if (command == "batch" && inErr > 0) {
            EXPECT_EQ(count(run.err, "\n#1  " + notice + "\n"), 1) << run.err;
        }
        if (std::find(args.begin(), args.end(), "--json") != args.end()) {
            EXPECT_EQ(jsonLines(run.out).at(0)["fellBack"], true) << run.out;
        }
    }
    bench.stopAll();
    EXPECT_EQ(bench.calculators[0]->chip().application(), bench.image);
    bench.calculators[0]->chip().expectBootloaderUntouched();
}

} // namespace
} // namespace pelwick::testing
