// flash, backup and simulate as a user meets them: what is written is what was judged, after a
// backup that was saved; an interrupt never cuts a write off by accident; a result that cannot be
// shown is a failure.

#include "BatchCalculator.h"
#include "CliProcess.h"

#include "support/TempDir.h"
#include "util/FileIO.h"

#include <csignal>
#include <gtest/gtest.h>

namespace pelwick::testing {
namespace {

namespace fs = std::filesystem;

// What the demo calculator holds before anything is flashed.
Bytes preloadedImage() {
    Bytes image(0x1C000, 0);
    image[0] = image[1] = 0x90;
    return image;
}

std::vector<fs::path> filesIn(const fs::path& folder) {
    if (!fs::exists(folder)) {
        return {};
    }
    return {fs::directory_iterator(folder), fs::directory_iterator()};
}

// A calculator on a pseudo-terminal that takes `delay` seconds per 512 bytes, and an image.
struct Bench {
    TempDir folder;
    std::unique_ptr<BatchCalculator> calculator;
    Bytes image = patternImage(40);
    fs::path imageFile = folder.write("image.bin", image);

    explicit Bench(double delay = 0) {
        fs::create_directory(folder / "dev");
        calculator = std::make_unique<BatchCalculator>(folder / "dev", "ttyACM0", 41, delay);
    }
    std::vector<std::string> flash(std::vector<std::string> options) const {
        std::vector<std::string> args{"--port", calculator->link().string(), "--settle", "0",
                                      "flash",  imageFile.string()};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }
    bool untouched() {
        calculator->stop();
        return calculator->application() == calculator->originalApplication() &&
               calculator->bootloader() == calculator->originalBootloader();
    }
};

TEST(CliFlash, KeepsEveryBackupItSavesInTheFolderGiven) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(2));
    // Two calculators with the same firmware on the same day: the second backup gets a name of
    // its own and the first stays.
    for (int run = 0; run < 2; ++run) {
        EXPECT_EQ(runCli({"--demo", "flash", image.string(), "--yes", "--backup-dir",
                          folder.path().string()})
                      .status,
                  0);
    }
    const auto saved = filesIn(folder.path());
    ASSERT_EQ(saved.size(), 3u);
    for (const auto& file : saved) {
        EXPECT_EQ(readWholeFile(file), file == image ? patternImage(2) : preloadedImage()) << file;
    }
}

TEST(CliFlash, ABackupThatCannotBeSavedStopsTheFlash) {
    // Files above 64 KiB cannot be written: the backup fails half-way, in the folder given, in the
    // default one, and in a batch.
    const std::vector<std::string> cases[] = {
        {"--yes", "--backup-dir", "."}, {"--yes"}, {"--count", "1", "--backup-dir", "."}};
    for (const auto& options : cases) {
        SCOPED_TRACE(options.back());
        Bench bench;
        std::vector<std::string> args = bench.flash(options);
        if (options[0] == "--count") {
            args[4] = "batch";
        }
        CliRunOptions limited;
        limited.fileSizeLimit = 64 * 1024;
        limited.workingDirectory = bench.folder.path();
        const CliRun run = runCli(args, limited);
        EXPECT_EQ(run.status, 1);
        // A batch tells it in the unit's line.
        EXPECT_NE((run.err + run.out).find(": File too large."), std::string::npos) << run.err;
        EXPECT_TRUE(bench.untouched());
    }
}

TEST(CliFlash, AsksOnATerminalOnceTheBackupIsSavedWhereTheUserKeepsData) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(3));
    // $XDG_DATA_HOME/pelwick/backups, or ~/.local/share/pelwick/backups without it.
    const std::pair<std::vector<std::string>, fs::path> homes[] = {
        {{"XDG_DATA_HOME=" + (folder / "data").string()}, folder / "data/pelwick/backups"},
        {{"XDG_DATA_HOME=", "HOME=" + (folder / "home").string()},
         folder / "home/.local/share/pelwick/backups"},
    };
    for (const auto& [environment, backups] : homes) {
        const CliRun declined = runCli({"--demo", "flash", image.string()},
                                       CliRunOptions::typing("n\n").withEnvironment(environment));
        EXPECT_EQ(declined.status, 1);
        EXPECT_TRUE(declined.err.find("[y/N] ") != std::string::npos) << declined.err;
        const auto saved = filesIn(backups);
        ASSERT_EQ(saved.size(), 1u) << backups;
        EXPECT_EQ(readWholeFile(saved[0]), preloadedImage());
    }
    // Confirmed, the progress is a bar redrawn in place.
    const CliRun accepted =
        runCli({"--demo", "flash", image.string(), "--no-backup"}, CliRunOptions::typing("y\n"));
    EXPECT_EQ(accepted.status, 0) << accepted.err;
    EXPECT_NE(accepted.err.find("\rWriting   ["), std::string::npos) << accepted.err;
    EXPECT_EQ(accepted.err.find("Writing firmware"), std::string::npos);
}

TEST(CliFlash, AFileReplacedWhileThePromptWaitsIsNotWhatIsWritten) {
    Bench bench;
    CliProcess flash(bench.flash({"--no-backup"}), CliRunOptions::typing(""));
    ASSERT_TRUE(flash.waitForError("[y/N] "));
    bench.folder.write("image.bin", patternImage(42));
    flash.type("y\n");
    EXPECT_EQ(flash.wait().status, 0);
    bench.calculator->stop();
    EXPECT_EQ(bench.calculator->application(), bench.image);
}

TEST(CliFlash, AnInterruptFinishesTheWriteAndASecondEndsItAtOnce) {
    // 5 ms per 512 bytes: the write alone takes over a second.
    for (const bool twice : {false, true}) {
        Bench bench(0.005);
        CliProcess flash(bench.flash({"--yes", "--no-backup"}));
        ASSERT_TRUE(flash.waitForError("Writing firmware… 0%"));
        flash.signal(SIGTERM);
        ASSERT_TRUE(flash.waitForError("Finishing the write and verify first"));
        if (twice) {
            flash.signal(SIGHUP);
        }
        const CliRun run = flash.wait();
        bench.calculator->stop();
        EXPECT_EQ(run.status, twice ? 130 : 0) << run.err;
        EXPECT_EQ(bench.calculator->application() == bench.image, !twice);
        EXPECT_EQ(bench.calculator->bootloader(), bench.calculator->originalBootloader());
    }
}

TEST(CliBackup, AnInterruptWhileReadingEndsAtOnceWithNothingSaved) {
    Bench bench(0.005);
    const fs::path out = bench.folder / "backup.bin";
    CliProcess backup({"--port", bench.calculator->link().string(), "backup", "-o", out.string()});
    ASSERT_TRUE(backup.waitForError("Reading firmware… 0%"));
    backup.signal(SIGINT);
    EXPECT_EQ(backup.wait().status, 130);
    // Neither the backup nor a temporary file.
    EXPECT_EQ(filesIn(bench.folder.path()).size(), 2u);
}

TEST(CliOutput, AResultThatCannotBeWrittenIsAFailure) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(6));
    using Output = CliRunOptions::Output;
    const std::pair<std::vector<std::string>, Output> cases[] = {
        {{"checksum", image.string()}, Output::full},
        {{"--demo", "info"}, Output::closed},
        // The backup is saved; only its report is missing.
        {{"--demo", "backup", "-o", (folder / "backup.bin").string()}, Output::readerGone},
        // A verdict that could not be shown is no verdict: the flash does not start.
        {{"--demo", "flash", image.string(), "--yes", "--no-backup"}, Output::readerGone},
    };
    for (const auto& [args, output] : cases) {
        SCOPED_TRACE(args[1]);
        CliRunOptions options;
        options.output = output;
        const CliRun run = runCli(args, options);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.err.find("Could not write to standard output: "), std::string::npos);
        EXPECT_EQ(run.err.find("Flashed"), std::string::npos);
    }
    EXPECT_EQ(fs::file_size(folder / "backup.bin"), 0x1C000u);
}

TEST(CliSimulate, ServesACalculatorOnATerminalUntilInterrupted) {
    TempDir folder;
    const auto link = folder / "ttyACM0";
    CliProcess served({"simulate", "--link", link.string(), "--delay", "0"});
    const std::string terminal = served.readOutputLine();
    ASSERT_TRUE(terminal.starts_with("/dev/pts/")) << terminal;
    EXPECT_EQ(fs::read_symlink(link), terminal);
    EXPECT_EQ(runCli({"--device-dir", folder.path().string(), "info"}).status, 0);
    served.signal(SIGTERM);
    EXPECT_EQ(served.wait().status, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
}

} // namespace
} // namespace pelwick::testing
