// flash as a user meets it: what is written is what was judged, after a
// backup that was saved; an interrupt never cuts a write off by accident; a result that cannot be
// shown is a failure.

#include "BatchCalculator.h"
#include "CliProcess.h"

#include "support/TempDir.h"
#include "util/FileIO.h"

#include <csignal>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <tuple>

namespace pelwick::testing {
namespace {

namespace fs = std::filesystem;

// A folder that is missing fails the test with the exception.
std::vector<fs::path> filesIn(const fs::path& folder) {
    return {fs::directory_iterator(folder), fs::directory_iterator()};
}

TEST(CliFlash, ABackupThatCannotBeSavedStopsTheFlash) {
    CalculatorBench bench;
    const std::string folder = bench.folder.path().string();
    // Files above 64 KiB cannot be written: the backup fails half-way, in a flash and in a batch.
    // (Which folder a flash saves in is the prompt test's.)
    const std::vector<std::string> cases[] = {
        bench.run("flash", {"--yes", "--backup-dir", folder}),
        bench.run("batch", {"--count", "1", "--backup-dir", folder}),
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[4] + ' ' + args.back());
        const CliRun run = runCli(args, {.fileSizeLimit = 64 * 1024});
        EXPECT_EQ(run.status, 1);
        // A batch tells it in the unit's line.
        EXPECT_NE((run.err + run.out).find(": File too large."), std::string::npos) << run.err;
    }
    bench.stopAll();
    const BatchCalculator& calculator = *bench.calculators[0];
    EXPECT_EQ(calculator.chip().application(), calculator.originalApplication());
    calculator.chip().expectBootloaderUntouched();
}

TEST(CliFlash, AsksOnATerminalOnceTheBackupIsSavedWhereTheUserKeepsData) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(3));
    // What the demo calculator holds.
    Bytes preloaded(0x1C000, 0);
    preloaded[0] = preloaded[1] = 0x90;
    // $XDG_DATA_HOME/pelwick/backups, or ~/.local/share/pelwick/backups without it.
    const std::pair<std::vector<std::string>, fs::path> homes[] = {
        {{"XDG_DATA_HOME=" + (folder / "data").string()}, folder / "data/pelwick/backups"},
        {{"XDG_DATA_HOME=", "HOME=" + (folder / "home").string()},
         folder / "home/.local/share/pelwick/backups"},
    };
    for (const auto& [environment, backups] : homes) {
        CliProcess flash({"--demo", "flash", image.string()},
                         {.terminal = true, .environment = environment});
        ASSERT_TRUE(flash.waitForError("[y/N] "));
        flash.type("n\n");
        EXPECT_EQ(flash.wait().status, 1);
        const auto saved = filesIn(backups);
        ASSERT_EQ(saved.size(), 1u) << backups;
        EXPECT_EQ(readWholeFile(saved[0]), preloaded);
    }
}

TEST(CliFlash, AFileReplacedWhileThePromptWaitsIsNotWhatIsWritten) {
    CalculatorBench bench;
    CliProcess flash(bench.run("flash", {"--no-backup"}), {.terminal = true});
    ASSERT_TRUE(flash.waitForError("[y/N] "));
    bench.folder.write("image.bin", patternImage(42));
    flash.type("y\n");
    const CliRun run = flash.wait();
    EXPECT_EQ(run.status, 0) << run.err;
    // On a terminal the progress is a bar redrawn in place.
    EXPECT_NE(run.err.find("\rWriting   ["), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Writing firmware"), std::string::npos);
    bench.stopAll();
    EXPECT_EQ(bench.calculators[0]->chip().application(), bench.image);
}

// Before the write an interrupt ends the flash at once, with nothing saved or written; during the
// write it lets the write and verify finish, unless a second one ends it at once.
TEST(CliFlash, AnInterruptEndsAtOnceExceptDuringTheWriteUnlessRepeated) {
    const std::tuple<std::string, int, int> cases[] = {
        {"Reading firmware… 0%", 1, 130},
        {"Writing firmware… 0%", 1, 0},
        {"Writing firmware… 0%", 2, 130},
    };
    for (const auto& [progress, signals, status] : cases) {
        SCOPED_TRACE(progress + ' ' + std::to_string(signals));
        // 5 ms per 512 bytes: the read, and the write, each take over a second.
        CalculatorBench bench(1, 0.005);
        CliProcess flash(
            bench.run("flash", {"--json", "--yes", "--backup-dir", bench.folder.path().string()}));
        ASSERT_TRUE(flash.waitForError(progress));
        flash.signal(SIGTERM);
        if (progress.starts_with("Writing")) {
            ASSERT_TRUE(flash.waitForError("Finishing the write and verify first"));
        }
        if (signals == 2) {
            flash.signal(SIGHUP);
        }
        const CliRun run = flash.wait();
        bench.stopAll();
        const BatchCalculator& calculator = *bench.calculators[0];
        EXPECT_EQ(run.status, status) << run.err;
        const auto document = nlohmann::json::parse(run.out);
        EXPECT_EQ(status == 0 ? document["result"] : document["error"]["kind"],
                  status == 0 ? "flashed" : "interrupted");
        EXPECT_EQ(calculator.chip().application() == bench.image, status == 0);
        EXPECT_EQ(calculator.chip().application() == calculator.originalApplication(),
                  signals == 1 && status != 0);
        // The image, and the backup once it was read: no temporary file is left.
        EXPECT_EQ(filesIn(bench.folder.path()).size(), status == 130 && signals == 1 ? 2u : 3u);
        calculator.chip().expectBootloaderUntouched();
    }
}

TEST(CliOutput, AResultThatCannotBeWrittenIsAFailure) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(6));
    const std::vector<std::string> cases[] = {
        {"checksum", image.string()},
        // The backup is saved; only its report is missing.
        {"--demo", "backup", "-o", (folder / "backup.bin").string()},
        // A verdict that could not be shown is no verdict: the flash does not start.
        {"--demo", "flash", image.string(), "--yes", "--no-backup"},
    };
    for (const auto& args : cases) {
        SCOPED_TRACE(args[1]);
        const CliRun run = runCli(args, {.outputReaderGone = true});
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("Could not write to standard output: "), std::string::npos);
        EXPECT_EQ(run.err.find("Flashed"), std::string::npos);
    }
    EXPECT_EQ(fs::file_size(folder / "backup.bin"), 0x1C000u);
}

} // namespace
} // namespace pelwick::testing
