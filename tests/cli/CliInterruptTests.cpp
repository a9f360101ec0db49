// What is written is what was judged, an interrupt never cuts a flash off by accident, and an
// interrupted read leaves nothing behind.

#include "BatchCalculator.h"
#include "CliProcess.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "support/TempDir.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sstream>

namespace pelwick::testing {
namespace {

namespace fs = std::filesystem;

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A device folder with one simulated calculator that takes `delay` seconds per 512 bytes.
struct Bench {
    TempDir folder;
    fs::path devices = folder / "dev";
    std::unique_ptr<BatchCalculator> calculator;

    explicit Bench(unsigned seed, double delay = 0) {
        fs::create_directory(devices);
        calculator = std::make_unique<BatchCalculator>(devices, "ttyACM0", seed, delay);
    }

    std::vector<std::string> flash(const fs::path& image, std::vector<std::string> options) const {
        std::vector<std::string> args{
            "--port", calculator->link().string(), "--settle", "0", "flash", image.string()};
        args.insert(args.end(), options.begin(), options.end());
        return args;
    }
};

// Reads standard error up to the line that starts with `start`; that line, or empty.
std::string errorLineStarting(BackgroundCli& cli, const std::string& start) {
    std::string line;
    do {
        line = cli.readErrorLine(20);
    } while (!line.empty() && !line.starts_with(start));
    return line;
}

// `text` without the progress lines ("Writing firmware… 40%").
std::string withoutProgress(const std::string& text) {
    std::string kept;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (!line.ends_with("%")) {
            kept += line + '\n';
        }
    }
    return kept;
}

TEST(CliFlash, AFileReplacedWhileThePromptWaitsIsNotWhatIsWritten) {
    Bench bench(40);
    const Bytes judged = patternImage(41);
    const fs::path image = bench.folder.write("image.bin", judged);
    BackgroundCli flash(bench.flash(image, {"--no-backup"}), CliRunOptions::typing(""));
    ASSERT_TRUE(flash.waitForError("[y/N] ", 20));
    bench.folder.write("image.bin", patternImage(42));
    flash.type("y\n");
    const CliRun run = flash.wait();
    bench.calculator->stop();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(bench.calculator->application(), judged);
    EXPECT_TRUE(contains(run.out, VoyagerFirmwareChecksum::testMenuDisplayOf(judged)));
}

TEST(CliFlash, AnInterruptFinishesTheWriteAndASecondEndsItAtOnce) {
    // 5 ms per 512 bytes: the write alone takes over a second.
    Bench finishing(43, 0.005);
    Bench cut(44, 0.005);
    const Bytes image = patternImage(45);
    const fs::path file = finishing.folder.write("image.bin", image);
    const std::string notice = "Finishing the write and verify first, so that the calculator is "
                               "not left with incomplete firmware. Press Ctrl-C again to stop at "
                               "once.";

    // One interrupt, and the reader of the output goes away: the flash is finished, and only its
    // report is missing.
    BackgroundCli once(finishing.flash(file, {"--yes", "--no-backup"}));
    ASSERT_EQ(errorLineStarting(once, "Writing"), "Writing firmware… 0%");
    once.closeOutput();
    once.signal(SIGTERM);
    EXPECT_EQ(errorLineStarting(once, "Finishing"), notice);
    const CliRun finished = once.wait();
    EXPECT_EQ(finished.status, 1);
    EXPECT_TRUE(finished.err.ends_with("Could not write to standard output: Broken pipe.\n"))
        << finished.err;

    // A second interrupt ends it at once, and says what the calculator holds now.
    BackgroundCli twice(cut.flash(file, {"--yes", "--no-backup"}));
    ASSERT_EQ(errorLineStarting(twice, "Writing"), "Writing firmware… 0%");
    twice.signal(SIGINT);
    EXPECT_EQ(errorLineStarting(twice, "Finishing"), notice);
    twice.signal(SIGHUP);
    const CliRun stopped = twice.wait();
    EXPECT_EQ(stopped.status, 130);
    EXPECT_EQ(withoutProgress(stopped.err),
              "Stopped in the middle of the write. The calculator now holds "
              "incomplete firmware; flash a firmware file again to put it right.\n");

    finishing.calculator->stop();
    cut.calculator->stop();
    EXPECT_EQ(finishing.calculator->application(), image);
    EXPECT_NE(cut.calculator->application(), image);
    EXPECT_NE(cut.calculator->application(), cut.calculator->originalApplication());
}

TEST(CliBackup, AnInterruptWhileReadingEndsAtOnceWithNothingSaved) {
    Bench bench(46, 0.005);
    const fs::path out = bench.folder / "backup.bin";
    BackgroundCli backup(
        {"--port", bench.calculator->link().string(), "backup", "-o", out.string()});
    ASSERT_EQ(backup.readErrorLine(20), "Reading firmware… 0%");
    backup.signal(SIGINT);
    const CliRun run = backup.wait();
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(withoutProgress(run.err), "Interrupted. No backup was saved.\n");
    // Neither the backup nor a temporary file.
    EXPECT_EQ(std::distance(fs::directory_iterator(bench.folder.path()), fs::directory_iterator()),
              1);
}

} // namespace
} // namespace pelwick::testing
