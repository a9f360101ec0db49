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
const KnownFirmwareEntry fifteenA{0x1111, hp15c, "hp15c-a", "Rev A"};
const KnownFirmwareEntry fifteenB{0x2222, hp15c, "hp15c-b", "Rev B"};
const KnownFirmwareEntry twelve{0x3333, "HP 12c", "hp12c", ""};
const std::vector<KnownFirmwareEntry> testCatalogue = {fifteenA, fifteenB, twelve};

BackupChecksumAssessment backup(std::uint16_t displayed) {
    return BackupChecksumAssessment(displayed, testCatalogue);
}

// The one table of verdicts: on the backup alone (no file), and on a file against the catalogue
// and the backup's checksum (0: none), with the short form where it differs.
TEST(FirmwareAssessment, JudgesTheBackupAndTheFileAgainstTheCatalogue) {
    const std::string notListed = ". This firmware is not in the list of known versions.";
    const std::string unlisted =
        notListed + " Make sure it is made for your calculator’s model. Are you sure you want to "
                    "install it?";
    const std::string safe = "Checksum 2222h: HP 15c Collector’s Edition Rev B.";
    const std::string already =
        ". This firmware is already on the calculator. You don’t need to install it again.";
    struct Case {
        std::uint16_t file;
        std::uint16_t onCalculator;
        Kind kind;
        std::optional<KnownFirmwareEntry> recognizedOnCalculator;
        std::string message;
        std::string summary = {}; // when it differs from the message
    };
    const std::string unlistedBackup =
        "Checksum 9090h" + notListed +
        " If your calculator runs firmware that isn’t listed yet, or a custom version, proceed at "
        "your own risk. If it runs a listed version, the firmware may not have been read "
        "correctly.";
    const std::string otherModel =
        "Checksum 1111h: HP 15c Collector’s Edition Rev A. Your calculator has HP 12c firmware, "
        "so this file is for a different model. Are you sure you want to install it?";
    const std::string checkModel = " Make sure your calculator is an HP 15c Collector’s Edition.";
    const std::vector<Case> cases = {
        {0, 0x2222, {}, fifteenB, safe + " It is safe to proceed.", safe},
        {0, 0x9090, {}, {}, unlistedBackup},
        // The one verdict on a file without caution: listed, for the model the calculator runs.
        {0x2222, 0x1111, Kind::known, fifteenA, safe + " It is safe to proceed.", safe},
        {0x2222, 0, Kind::known, {}, safe + checkModel},
        {0x4444, 0, Kind::unrecognized, {}, "Checksum 4444h" + unlisted},
        {0x1111, 0x3333, Kind::otherModel, twelve, otherModel},
        {0x9090, 0x9090, Kind::alreadyOnCalculator, {}, "Checksum 9090h" + already},
        {0x4444, 0x1111, Kind::unrecognized, fifteenA, "Checksum 4444h" + unlisted},
        // An unlisted backup says nothing about the model.
        {0x3333,
         0x9090,
         Kind::known,
         {},
         "Checksum 3333h: HP 12c . Make sure your calculator is an HP 12c."},
    };
    for (const Case& c : cases) {
        const auto taken = c.onCalculator ? std::optional(backup(c.onCalculator)) : std::nullopt;
        const std::string summary = c.summary.empty() ? c.message : c.summary;
        if (!c.file) {
            EXPECT_EQ(taken->known(), c.recognizedOnCalculator) << c.message;
            EXPECT_EQ(taken->message(), c.message);
            EXPECT_EQ(taken->summary(), summary);
            continue;
        }
        const FirmwareFileAssessment verdict(c.file, taken, testCatalogue);
        EXPECT_EQ(verdict.kind(), c.kind) << c.message;
        EXPECT_EQ(verdict.onCalculator(), c.recognizedOnCalculator) << c.message;
        EXPECT_EQ(verdict.isCaution(), c.summary.empty()) << c.message;
        EXPECT_EQ(verdict.message(), c.message);
        EXPECT_EQ(verdict.summary(), summary);
    }
}

TEST(BackupNames, UseTheCatalogueTheChecksumAndTheLocalDate) {
    struct Case {
        const char* zone;
        std::uint16_t checksum;
        std::string name;
    };
    // 23:30 UTC on 5 December 2026 is already the 6th in Tokyo.
    const auto lateEvening = sys_days{year{2026} / 12 / 5} + 23h + 30min;
    for (const Case& c : std::vector<Case>{
             {"UTC0", 0x9090, "firmware-9090h-20261205.bin"},
             {"JST-9", 0x3333, "hp12c-3333h-20261206.bin"},
         }) {
        ::setenv("TZ", c.zone, 1);
        ::tzset();
        EXPECT_EQ(backup(c.checksum).defaultBackupFileName(lateEvening), c.name) << c.zone;
    }
    ::unsetenv("TZ");
    ::tzset();

    EXPECT_EQ(BatchBackupNaming::filename("20261205-101500", 7), "hp15c-20261205-101500-007.bin");
    EXPECT_EQ(BatchBackupNaming::filename("X", 1234), "hp15c-X-1234.bin");
    EXPECT_EQ(BatchBackupNaming::fileURL("/tmp/backups", "X", 42),
              std::filesystem::path("/tmp/backups/hp15c-X-042.bin"));
}

} // namespace
} // namespace pelwick
