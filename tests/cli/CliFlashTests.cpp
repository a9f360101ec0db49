#include "CliProcess.h"

#include "firmware/VoyagerFirmwareChecksum.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <regex>

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
    EXPECT_TRUE(contains(run.out, "On the calculator: Checksum 9090h. This firmware is not in the "
                                  "list of known versions."))
        << run.out;
    EXPECT_TRUE(contains(run.out, "In " + image.string() + ": Checksum " +
                                      VoyagerFirmwareChecksum::formattedOf(imageBytes) + "."));
    EXPECT_TRUE(
        std::regex_search(run.out, std::regex("\nFlashed and verified\\. \\(\\d+\\.\\d s\\)\n")))
        << run.out;
    EXPECT_TRUE(contains(run.out, VoyagerFirmwareChecksum::testMenuDisplayOf(imageBytes) + "\n"));
    // Without a terminal, one line per phase.
    EXPECT_EQ(run.err, "Reading firmware…\nWriting firmware…\nVerifying firmware…\n");

    const auto saved = filesIn(backups);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(
        std::regex_match(saved[0].filename().string(), std::regex(R"(firmware-9090h-\d{8}\.bin)")));
    EXPECT_EQ(readWholeFile(saved[0]), preloadedImage());
}

TEST(CliFlash, AsksOnATerminalAndShowsABarThatFollowsThePages) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(4));

    const CliRun declined = runCli({"--demo", "flash", image.string()}, {{}, true, "n\n"});
    EXPECT_EQ(declined.status, 1);
    EXPECT_TRUE(contains(declined.err, "Flash at 0x04000? [y/N] "));
    EXPECT_TRUE(contains(declined.err, "Flash cancelled. Nothing was written to the calculator."));
    EXPECT_FALSE(contains(declined.out, "Flashed"));

    const CliRun accepted = runCli({"--demo", "flash", image.string()}, {{}, true, "y\n"});
    EXPECT_EQ(accepted.status, 0) << accepted.err;
    EXPECT_TRUE(contains(accepted.out, "\nFlashed and verified. ("));
    const std::string& shown = accepted.err;
    EXPECT_TRUE(contains(shown, "\rReading   [##############################] 100%")) << shown;
    EXPECT_TRUE(contains(shown, "] 100%  page 224 of 224"));
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
    EXPECT_TRUE(contains(named.out, "Checksum 9090h. This firmware is not in the list"));

    const CliRun unnamed = runCli({"--demo", "backup"}, {folder.path(), false, ""});
    EXPECT_EQ(unnamed.status, 0) << unnamed.err;
    std::smatch name;
    ASSERT_TRUE(std::regex_search(unnamed.out, name, std::regex(R"(firmware-9090h-\d{8}\.bin)")))
        << unnamed.out;
    EXPECT_EQ(readWholeFile(folder / name.str()), preloadedImage());

    const auto unwritable = folder / "absent" / "x.bin";
    const CliRun failed = runCli({"--demo", "backup", "-o", unwritable.string()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_TRUE(contains(failed.err, "Could not write " + unwritable.string() +
                                         ": No such file or directory.\n"))
        << failed.err;
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
    const CliRun run = runCli({"demo", "--fast", "--folder", folder.path().string()});
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
    ASSERT_TRUE(std::regex_search(run.out, backupName, std::regex(R"(firmware-9090h-\d{8}\.bin)")));
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
