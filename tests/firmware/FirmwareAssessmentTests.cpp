#include "firmware/BatchBackupNaming.h"
#include "firmware/FirmwareAssessment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace pelwick {
namespace {

using Kind = FirmwareFileAssessment::Kind;
using namespace std::chrono;

const std::string hp15c = "HP 15c Collector’s Edition";
const std::string hp12c = "HP 12c";

const KnownFirmwareEntry fifteenA{0x1111, hp15c, "hp15c-a", "Rev A"};
const KnownFirmwareEntry fifteenB{0x2222, hp15c, "hp15c-b", "Rev B"};
const KnownFirmwareEntry twelve{0x3333, hp12c, "hp12c", ""};
const std::vector<KnownFirmwareEntry> testCatalogue = {fifteenA, fifteenB, twelve};

const std::string unlistedBackup =
    ". This firmware is not in the list of known versions. If your calculator runs firmware that "
    "isn’t listed yet, or a custom version, proceed at your own risk. If it runs a listed version, "
    "the firmware may not have been read correctly.";
const std::string unlistedFile =
    ". This firmware is not in the list of known versions. Make sure it is made for your "
    "calculator’s model. Are you sure you want to install it?";

BackupChecksumAssessment backup(std::uint16_t displayed) {
    return BackupChecksumAssessment(displayed, testCatalogue);
}

FirmwareFileAssessment file(std::uint16_t displayed,
                            const std::optional<BackupChecksumAssessment>& backup) {
    return FirmwareFileAssessment(displayed, backup, testCatalogue);
}

/// Sets the process time zone for the lifetime of the object (no other test here depends on it).
struct TimeZone {
    explicit TimeZone(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        ::unsetenv("TZ");
        ::tzset();
    }
};

TEST(BackupChecksumAssessment, RecognizedAndUnlistedTexts) {
    const auto recognized = backup(0x2222);
    EXPECT_TRUE(recognized.isRecognized());
    EXPECT_EQ(recognized.known(), fifteenB);
    EXPECT_EQ(recognized.message(),
              "Checksum 2222h: HP 15c Collector’s Edition Rev B. It is safe to proceed.");
    EXPECT_EQ(recognized.summary(), "Checksum 2222h: HP 15c Collector’s Edition Rev B.");
    EXPECT_EQ(backup(0x3333).summary(), "Checksum 3333h: HP 12c .");

    const auto unlisted = backup(0x9090);
    EXPECT_FALSE(unlisted.isRecognized());
    EXPECT_EQ(unlisted.displayed(), 0x9090);
    EXPECT_EQ(unlisted.message(), "Checksum 9090h" + unlistedBackup);
    EXPECT_EQ(unlisted.summary(), unlisted.message());
}

TEST(BackupChecksumAssessment, DefaultFileNameUsesTheLocalDate) {
    // 23:30 UTC on 5 December 2026 is already the 6th in Tokyo; 02:00 UTC on the 6th is still
    // the 5th in New York.
    const auto lateEvening = sys_days{year{2026} / 12 / 5} + 23h + 30min;
    const auto earlyMorning = sys_days{year{2026} / 12 / 6} + 2h;
    {
        const TimeZone utc("UTC0");
        EXPECT_EQ(backup(0x9090).defaultBackupFileName(lateEvening), "firmware-9090h-20261205.bin");
        EXPECT_EQ(backup(0x1111).defaultBackupFileName(lateEvening), "hp15c-a-1111h-20261205.bin");
        EXPECT_EQ(backup(0x0101).defaultBackupFileName(sys_days{year{2027} / 1 / 9}),
                  "firmware-0101h-20270109.bin");
    }
    {
        const TimeZone tokyo("JST-9");
        EXPECT_EQ(backup(0x3333).defaultBackupFileName(lateEvening), "hp12c-3333h-20261206.bin");
    }
    {
        const TimeZone newYork("EST5");
        EXPECT_EQ(backup(0x3333).defaultBackupFileName(earlyMorning), "hp12c-3333h-20261205.bin");
        // Just before midnight local time, with a fraction of a second left.
        EXPECT_EQ(backup(0x3333).defaultBackupFileName(sys_days{year{2026} / 12 / 6} + 5h -
                                                       milliseconds(1)),
                  "hp12c-3333h-20261205.bin");
    }
}

TEST(FirmwareFileAssessment, WithoutABackup) {
    const auto knownFile = file(0x2222, std::nullopt);
    EXPECT_EQ(knownFile.kind(), Kind::known);
    EXPECT_EQ(knownFile.known(), fifteenB);
    EXPECT_EQ(knownFile.onCalculator(), std::nullopt);
    EXPECT_TRUE(knownFile.isCaution());
    EXPECT_EQ(knownFile.message(), "Checksum 2222h: HP 15c Collector’s Edition Rev B. Make sure "
                                   "your calculator is an HP 15c Collector’s Edition.");
    EXPECT_EQ(knownFile.summary(), knownFile.message());
    EXPECT_EQ(file(0x3333, std::nullopt).message(),
              "Checksum 3333h: HP 12c . Make sure your calculator is an HP 12c.");

    const auto unknownFile = file(0x4444, std::nullopt);
    EXPECT_EQ(unknownFile.kind(), Kind::unrecognized);
    EXPECT_EQ(unknownFile.known(), std::nullopt);
    EXPECT_TRUE(unknownFile.isCaution());
    EXPECT_EQ(unknownFile.message(), "Checksum 4444h" + unlistedFile);
    EXPECT_EQ(unknownFile.summary(), unknownFile.message());
}

TEST(FirmwareFileAssessment, AgainstARecognizedBackup) {
    const auto sameModel = file(0x2222, backup(0x1111));
    EXPECT_EQ(sameModel.kind(), Kind::known);
    EXPECT_EQ(sameModel.onCalculator(), fifteenA);
    EXPECT_FALSE(sameModel.isCaution());
    EXPECT_EQ(sameModel.message(),
              "Checksum 2222h: HP 15c Collector’s Edition Rev B. It is safe to proceed.");
    EXPECT_EQ(sameModel.summary(), "Checksum 2222h: HP 15c Collector’s Edition Rev B.");

    const auto otherModel = file(0x1111, backup(0x3333));
    EXPECT_EQ(otherModel.kind(), Kind::otherModel);
    EXPECT_EQ(otherModel.onCalculator(), twelve);
    EXPECT_TRUE(otherModel.isCaution());
    EXPECT_EQ(otherModel.message(),
              "Checksum 1111h: HP 15c Collector’s Edition Rev A. Your calculator has HP 12c "
              "firmware, so this file is for a different model. Are you sure you want to install "
              "it?");
    EXPECT_EQ(otherModel.summary(), otherModel.message());

    const auto same = file(0x1111, backup(0x1111));
    EXPECT_EQ(same.kind(), Kind::alreadyOnCalculator);
    EXPECT_TRUE(same.isCaution());
    EXPECT_EQ(same.message(), "Checksum 1111h. This firmware is already on the calculator. You "
                              "don’t need to install it again.");
    EXPECT_EQ(same.summary(), same.message());

    const auto unknownFile = file(0x4444, backup(0x1111));
    EXPECT_EQ(unknownFile.kind(), Kind::unrecognized);
    EXPECT_EQ(unknownFile.onCalculator(), fifteenA);
    EXPECT_TRUE(unknownFile.isCaution());
    EXPECT_EQ(unknownFile.message(), "Checksum 4444h" + unlistedFile);
}

TEST(FirmwareFileAssessment, AgainstAnUnlistedBackup) {
    const auto same = file(0x9090, backup(0x9090));
    EXPECT_EQ(same.kind(), Kind::alreadyOnCalculator);
    EXPECT_TRUE(same.isCaution());

    const auto knownFile = file(0x3333, backup(0x9090));
    EXPECT_EQ(knownFile.kind(), Kind::known);
    EXPECT_EQ(knownFile.onCalculator(), std::nullopt);
    EXPECT_TRUE(knownFile.isCaution());
    EXPECT_EQ(knownFile.message(),
              "Checksum 3333h: HP 12c . Make sure your calculator is an HP 12c.");
    EXPECT_EQ(knownFile, file(0x3333, std::nullopt));
    EXPECT_NE(file(0x9090, backup(0x9090)), file(0x9090, std::nullopt));
}

TEST(BatchBackupNaming, NamesAndPaths) {
    EXPECT_EQ(BatchBackupNaming::filename("20261205-101500", 7), "hp15c-20261205-101500-007.bin");
    EXPECT_EQ(BatchBackupNaming::filename("20261205-101500", 1234),
              "hp15c-20261205-101500-1234.bin");
    EXPECT_EQ(BatchBackupNaming::filename("X", 0), "hp15c-X-000.bin");
    EXPECT_EQ(BatchBackupNaming::fileURL("/tmp/backups", "X", 42),
              std::filesystem::path("/tmp/backups/hp15c-X-042.bin"));
}

} // namespace
} // namespace pelwick
