#include "firmware/VoyagerFirmwareChecksum.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

namespace Checksum = VoyagerFirmwareChecksum;

constexpr std::size_t applicationSize = 114688;

// The simulated calculator's image: 0x90 0x90 and zeros (checksum 9090h).
Bytes simulatedImage() {
    Bytes image(applicationSize, 0x00);
    image[0] = image[1] = 0x90;
    return image;
}

TEST(VoyagerFirmwareChecksum, SumsTheTrimmedImageWithoutItsLastByteIntoBothBytes) {
    Bytes sparse(applicationSize, 0x00);
    sparse[0] = 0x10;
    sparse[500] = 0x01;
    sparse[1000] = 0x22;
    const std::vector<std::pair<Bytes, std::uint16_t>> cases = {
        {{0x01, 0x02, 0x03, 0x00, 0x00}, 0x0303},
        {{}, 0x0000},
        {{0x05, 0x00, 0x00}, 0x0000},
        // Two bytes remain after trimming, but only the leading zero is summed.
        {{0x00, 0x05}, 0x0000},
        // The sum 0x180 keeps only its low byte.
        {{0x80, 0x80, 0x80, 0x01}, 0x8080},
        // Erased flash (0xFF) is not trimmed: the last 0xFF is dropped, the first is summed.
        {{0xFF, 0xFF, 0x00}, 0xFFFF},
        {simulatedImage(), 0x9090},
        // The byte left out is the last non-zero one, wherever it lies, not the image's last.
        {sparse, 0x1111},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(Checksum::displayedValue(cases[i].first), cases[i].second) << "case " << i;
    }
    EXPECT_EQ(Checksum::testMenuDisplayOf(simulatedImage()), "ChE - - 9090h");
    EXPECT_EQ(Checksum::testMenuDisplay(0x0A0A), "ChE - - 0A0Ah");
}

TEST(VoyagerFirmwareChecksum, AssessmentsAgainstTheShippedCatalogueIgnoreASkippedBackup) {
    // The shipped catalogue lists the simulated calculator's checksum as the original 15c CE
    // firmware.
    const Bytes image = simulatedImage();
    const auto backup = Checksum::backupAssessment(image);
    EXPECT_EQ(backup.displayed(), 0x9090);
    EXPECT_TRUE(backup.isRecognized());
    EXPECT_EQ(Checksum::firmwareFileAssessment(image, backup, false).kind(),
              FirmwareFileAssessment::Kind::alreadyOnCalculator);
    const auto skipped = Checksum::firmwareFileAssessment(image, backup, true);
    EXPECT_EQ(skipped, Checksum::firmwareFileAssessment(image, std::nullopt, false));
    EXPECT_EQ(skipped.kind(), FirmwareFileAssessment::Kind::known);
}

} // namespace
} // namespace pelwick
