#include "CliProcess.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

namespace pelwick::testing {
namespace {

// What the simulated calculator holds before anything is flashed.
Bytes preloadedImage() {
    Bytes image(0x1C000, 0);
    image[0] = image[1] = 0x90;
    return image;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::vector<std::filesystem::path> filesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        files.push_back(entry.path());
    }
    return files;
}

TEST(CliFlash, RefusesBadFilesAndMissingConfirmationBeforeTouchingThePort) {
    TempDir folder;
    const auto small = folder.write("small.bin", Bytes(100, 0x55));
    const auto image = folder.write("image.bin", patternImage(1));
    // A device folder that does not exist: listing it would be the first device activity, and
    // would fail with a different text.
    const std::string noDevices = (folder / "no-devices").string();

    const CliRun wrongSize = runCli({"--device-dir", noDevices, "flash", small.string(), "--yes"});
    EXPECT_EQ(wrongSize.status, 1);
    EXPECT_EQ(wrongSize.err, "Firmware is 100 bytes; expected 114688 bytes (0x1c000).\n");

    const CliRun missing =
        runCli({"--device-dir", noDevices, "flash", (folder / "absent.bin").string(), "--yes"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "Firmware file not found: " + (folder / "absent.bin").string() + "\n");

    const CliRun unconfirmed = runCli({"--device-dir", noDevices, "flash", image.string()});
    EXPECT_EQ(unconfirmed.status, 1);
    EXPECT_EQ(unconfirmed.err, "Refusing to flash without confirmation: standard input is not a "
                               "terminal. Pass --yes to confirm.\n");

    const CliRun badFolder = runCli({"--device-dir", noDevices, "flash", image.string(), "--yes",
                                     "--backup-dir", (folder / "absent").string()});
    EXPECT_EQ(badFolder.status, 1);
    EXPECT_EQ(badFolder.err, "Could not write to " + (folder / "absent").string() +
                                 ": No such file or directory.\n");
}

TEST(CliFlash, FlashesAfterJudgingAndBackingUpTheCalculator) {
    TempDir folder;
    const Bytes imageBytes = patternImage(2);
    const auto image = folder.write("image.bin", imageBytes);
    const auto backups = folder / "backups";
    std::filesystem::create_directory(backups);

    const CliRun run = runCli({"--demo", "--settle", "0", "flash", image.string(), "--yes",
                               "--backup-dir", backups.string()});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(contains(run.out, "On the calculator: Checksum 9090h: HP 15c Collector’s Edition "
                                  "original firmware of 2023-01-05."))
        << run.out;
    EXPECT_TRUE(contains(run.out, "In " + image.string() + ": Checksum " +
                                      VoyagerFirmwareChecksum::formattedOf(imageBytes) + "."));
    EXPECT_TRUE(
        std::regex_search(run.out, std::regex("\nFlashed and verified\\. \\(\\d+\\.\\d s\\)\n")))
        << run.out;
    EXPECT_TRUE(contains(run.out, VoyagerFirmwareChecksum::testMenuDisplayOf(imageBytes) + "\n"));
    // Without a terminal, progress comes in lines.
    EXPECT_TRUE(run.err.ends_with("\nVerifying firmware… 100%\n")) << run.err;

    const auto saved = filesIn(backups);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(std::regex_match(saved[0].filename().string(),
                                 std::regex(R"(hp15c-ce-20230105-9090h-\d{8}\.bin)")));
    EXPECT_EQ(readWholeFile(saved[0]), preloadedImage());

    // A second calculator with the same firmware on the same day keeps the first one's backup.
    const CliRun second = runCli({"--demo", "--settle", "0", "flash", image.string(), "--yes",
                                  "--backup-dir", backups.string()});
    ASSERT_EQ(second.status, 0) << second.err;
    const auto both = filesIn(backups);
    ASSERT_EQ(both.size(), 2u);
    for (const auto& file : both) {
        EXPECT_EQ(readWholeFile(file), preloadedImage()) << file;
        EXPECT_TRUE(contains(second.out + run.out,
                             "Saved the calculator's firmware to " + file.string() + ".\n"));
    }
}

TEST(CliFlash, KeepsABackupByDefaultAndSaysWhereBeforeThePrompt) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(3));
    // $XDG_DATA_HOME/pelwick/backups, or ~/.local/share/pelwick/backups without it; made when
    // missing.
    const std::pair<std::vector<std::string>, std::filesystem::path> homes[] = {
        {{"XDG_DATA_HOME=" + (folder / "data").string()}, folder / "data/pelwick/backups"},
        {{"XDG_DATA_HOME=", "HOME=" + (folder / "home").string()},
         folder / "home/.local/share/pelwick/backups"},
    };
    for (const auto& [environment, backups] : homes) {
        const CliRun run = runCli({"--demo", "flash", image.string()},
                                  CliRunOptions::typing("n\n").withEnvironment(environment));
        EXPECT_EQ(run.status, 1);
        const auto saved = std::filesystem::exists(backups) ? filesIn(backups)
                                                            : std::vector<std::filesystem::path>{};
        ASSERT_EQ(saved.size(), 1u) << backups;
        EXPECT_EQ(readWholeFile(saved[0]), preloadedImage());
        EXPECT_TRUE(
            contains(run.out, "Saved the calculator's firmware to " + saved[0].string() + ".\n"))
            << run.out;
        EXPECT_TRUE(contains(run.err, "Flash at 0x04000? [y/N] "));
    }

    const CliRun without = runCli({"--demo", "flash", image.string(), "--no-backup"},
                                  CliRunOptions::typing("n\n").withEnvironment(homes[0].first));
    EXPECT_TRUE(contains(without.err, "Flash at 0x04000 without a backup? [y/N] ")) << without.err;
    EXPECT_FALSE(contains(without.out, "Saved"));
    EXPECT_EQ(filesIn(homes[0].second).size(), 1u);
}

TEST(CliFlash, AsksOnATerminalAndShowsABarThatFollowsThePages) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(4));

    const CliRun declined =
        runCli({"--demo", "flash", image.string()}, CliRunOptions::typing("n\n"));
    EXPECT_EQ(declined.status, 1);
    EXPECT_TRUE(contains(declined.err, "Flash at 0x04000? [y/N] "));
    EXPECT_TRUE(contains(declined.err, "Flash cancelled. Nothing was written to the calculator."));
    EXPECT_FALSE(contains(declined.out, "Flashed"));

    const CliRun accepted =
        runCli({"--demo", "flash", image.string()}, CliRunOptions::typing("y\n"));
    EXPECT_EQ(accepted.status, 0) << accepted.err;
    EXPECT_TRUE(contains(accepted.out, "\nFlashed and verified. ("));
    const std::string& shown = accepted.err;
    EXPECT_TRUE(contains(shown, "\rReading   [##############################] 100%")) << shown;
    EXPECT_TRUE(contains(shown, "] 100%  112.0/112.0 KiB"));
    EXPECT_TRUE(contains(shown, "  page 1 of 224"));
    EXPECT_TRUE(contains(shown, "\rVerifying [##############################] 100%"));
    // Verifying starts a fresh line, and redraws are throttled well below one per page.
    const auto verifying = shown.find("\rVerifying");
    ASSERT_NE(verifying, std::string::npos);
    EXPECT_EQ(shown[verifying - 1], '\n');
    const auto redraws = std::count(shown.begin(), shown.end(), '\r') -
                         static_cast<long>(std::count(shown.begin(), shown.end(), '\n'));
    EXPECT_LT(redraws, 60);
    EXPECT_FALSE(contains(shown, "Writing firmware…"));
}

TEST(CliBackup, SavesTheApplicationRegionUnderAGivenOrDefaultName) {
    TempDir folder;
    const auto out = folder / "out.bin";
    const CliRun named = runCli({"--demo", "backup", "-o", out.string()});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(readWholeFile(out), preloadedImage());
    EXPECT_TRUE(
        contains(named.out, "Checksum 9090h: HP 15c Collector’s Edition original firmware"));

    // A name of its own choosing that is taken gets a number; the earlier file stays.
    for (const char* suffix : {"", "-2"}) {
        const CliRun unnamed = runCli({"--demo", "backup"}, CliRunOptions::inFolder(folder.path()));
        EXPECT_EQ(unnamed.status, 0) << unnamed.err;
        std::smatch name;
        ASSERT_TRUE(std::regex_search(
            unnamed.out, name,
            std::regex(R"(hp15c-ce-20230105-9090h-\d{8})" + std::string(suffix) + R"(\.bin)")))
            << unnamed.out;
        EXPECT_EQ(readWholeFile(folder / name.str()), preloadedImage());
    }
    EXPECT_EQ(filesIn(folder.path()).size(), 3u);

    const auto unwritable = folder / "absent" / "x.bin";
    const CliRun failed = runCli({"--demo", "backup", "-o", unwritable.string()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(contains(failed.err, "Could not write " + unwritable.string() +
                                         ": No such file or directory.\n"))
        << failed.err;
}

TEST(CliBackup, ANamedFileIsReplacedOnlyWithForceAndNeverWhenItIsNoFile) {
    TempDir folder;
    const Bytes earlier(100, 0x5A);
    const auto existing = folder.write("existing.bin", earlier);
    const CliRun refused = runCli({"--demo", "backup", "-o", existing.string()});
    EXPECT_EQ(refused.status, 1);
    EXPECT_EQ(refused.err, "Could not write " + existing.string() +
                               ": File exists. Pass --force to replace it.\n");
    EXPECT_EQ(readWholeFile(existing), earlier);

    EXPECT_EQ(runCli({"--demo", "backup", "-o", existing.string(), "--force"}).status, 0);
    EXPECT_EQ(readWholeFile(existing), preloadedImage());

    const auto pipe = folder / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const CliRun notAFile = runCli({"--demo", "backup", "-o", pipe.string(), "--force"});
    EXPECT_EQ(notAFile.status, 1);
    EXPECT_EQ(notAFile.err,
              "Could not write " + pipe.string() + ": it is a named pipe, not a regular file.\n");
    EXPECT_TRUE(std::filesystem::is_fifo(pipe));
    EXPECT_EQ(filesIn(folder.path()).size(), 2u);
}

TEST(CliVerify, ComparesTheCalculatorWithAFile) {
    TempDir folder;
    const auto same = folder.write("same.bin", preloadedImage());
    const auto other = folder.write("other.bin", patternImage(5));

    const CliRun match = runCli({"--demo", "verify", same.string()});
    EXPECT_EQ(match.status, 0) << match.err;
    EXPECT_EQ(match.out, "Verified: the calculator holds " + same.string() + ".\n");

    const CliRun mismatch = runCli({"--demo", "verify", other.string()});
    EXPECT_EQ(mismatch.status, 1);
    EXPECT_TRUE(contains(mismatch.err,
                         "Verify failed: flash contents do not match the firmware "
                         "file. Leave the cable in programming mode and try again.\n"));
    EXPECT_EQ(mismatch.out, "");
}

TEST(CliDemo, RunsTheWholeFlowAndEndsWithTheChecksumToExpect) {
    TempDir folder;
    const CliRun run =
        runCli({"demo", "--delay", "0", "--fast", "--folder", folder.path().string()});
    ASSERT_EQ(run.status, 0) << run.err;

    const auto image = folder / "pelwick-demo-image.bin";
    const Bytes sample = readWholeFile(image);
    ASSERT_EQ(sample.size(), 0x1C000u);
    const std::string header = "PELWICK DEMO IMAGE - NOT CALCULATOR FIRMWARE";
    EXPECT_EQ(std::string(sample.begin(), sample.begin() + header.size()), header);
    EXPECT_NE(sample.back(), 0);

    // The backup is the calculator as it was; the image it then flashed and verified is the one
    // whose checksum closes the output.
    std::smatch backupName;
    ASSERT_TRUE(std::regex_search(run.out, backupName,
                                  std::regex(R"(hp15c-ce-20230105-9090h-\d{8}\.bin)")));
    EXPECT_EQ(readWholeFile(folder / backupName.str()), preloadedImage());
    EXPECT_TRUE(contains(run.out, "Flashed and verified."));
    EXPECT_TRUE(contains(run.out, "Verified: the calculator holds " + image.string() + "."));
    const std::string lastLine = VoyagerFirmwareChecksum::testMenuDisplayOf(sample) + "\n";
    ASSERT_GE(run.out.size(), lastLine.size());
    EXPECT_EQ(run.out.substr(run.out.size() - lastLine.size()), lastLine);
    EXPECT_TRUE(run.out.ends_with("\n" + lastLine));
}

} // namespace
} // namespace pelwick::testing
