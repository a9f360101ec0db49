#include "firmware/VoyagerFirmwareChecksum.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

namespace Checksum = VoyagerFirmwareChecksum;

constexpr std::size_t applicationSize = 114688;

TEST(VoyagerFirmwareChecksum, WorkedExampleAndTextForms) {
    const Bytes image = {0x01, 0x02, 0x03, 0x00, 0x00};
    EXPECT_EQ(Checksum::displayedValue(image), 0x0303);
    EXPECT_EQ(Checksum::formattedOf(image), "0303h");
    EXPECT_EQ(Checksum::testMenuDisplayOf(image), "ChE - - 0303h");

    EXPECT_EQ(Checksum::formatted(0), "0000h");
    EXPECT_EQ(Checksum::formatted(0xABAB), "ABABh");
    EXPECT_EQ(Checksum::testMenuDisplay(0x0A0A), "ChE - - 0A0Ah");
}

TEST(VoyagerFirmwareChecksum, SmallImages) {
    EXPECT_EQ(Checksum::displayedValue(Bytes{}), 0x0000);
    EXPECT_EQ(Checksum::displayedValue(Bytes{0x42}), 0x0000);
    EXPECT_EQ(Checksum::displayedValue(Bytes(16, 0x00)), 0x0000);
    EXPECT_EQ(Checksum::displayedValue(Bytes{0x05, 0x00, 0x00}), 0x0000);
    // Two bytes remain after trimming, but only the leading zero is summed.
    EXPECT_EQ(Checksum::displayedValue(Bytes{0x00, 0x05}), 0x0000);
    // The sum 0x180 keeps only its low byte.
    EXPECT_EQ(Checksum::displayedValue(Bytes{0x80, 0x80, 0x80, 0x01}), 0x8080);
    // Erased flash (0xFF) is not trimmed: the last 0xFF is dropped, the first is summed.
    EXPECT_EQ(Checksum::displayedValue(Bytes{0xFF, 0xFF, 0x00}), 0xFFFF);
}

TEST(VoyagerFirmwareChecksum, TrimmingIsAViewIntoTheInput) {
    const Bytes image = {0x01, 0xFF, 0x00, 0x00};
    const ByteView trimmed = Checksum::trimmingTrailingZeros(image);
    EXPECT_EQ(trimmed.data(), image.data());
    EXPECT_EQ(trimmed.size(), 2u);

    EXPECT_TRUE(Checksum::trimmingTrailingZeros(Bytes(8, 0x00)).empty());
    EXPECT_TRUE(Checksum::trimmingTrailingZeros(Bytes{}).empty());
}

TEST(VoyagerFirmwareChecksum, FullSizeImages) {
    const Bytes erased(applicationSize, 0xFF);
    const ByteView untrimmed = Checksum::trimmingTrailingZeros(erased);
    EXPECT_EQ(untrimmed.data(), erased.data());
    EXPECT_EQ(untrimmed.size(), applicationSize);
    EXPECT_EQ(Checksum::displayedValue(erased), 0x0101);
    EXPECT_EQ(Checksum::formattedOf(erased), "0101h");

    Bytes simulated(applicationSize, 0x00);
    simulated[0] = 0x90;
    simulated[1] = 0x90;
    const ByteView trimmed = Checksum::trimmingTrailingZeros(simulated);
    EXPECT_EQ(trimmed.data(), simulated.data());
    EXPECT_EQ(trimmed.size(), 2u);
    EXPECT_EQ(Checksum::displayedValue(simulated), 0x9090);
    EXPECT_EQ(Checksum::formattedOf(simulated), "9090h");
    EXPECT_EQ(Checksum::testMenuDisplayOf(simulated), "ChE - - 9090h");

    // The byte left out is the last non-zero one, wherever it lies, not the image's last byte.
    Bytes sparse(applicationSize, 0x00);
    sparse[0] = 0x10;
    sparse[500] = 0x01;
    sparse[1000] = 0x22;
    EXPECT_EQ(Checksum::displayedValue(sparse), 0x1111);
}

TEST(VoyagerFirmwareChecksum, AssessmentEntryPointsIgnoreASkippedBackup) {
    // 0x9090 is the simulated calculator's image, which the shipped catalogue never lists.
    Bytes image(applicationSize, 0x00);
    image[0] = 0x90;
    image[1] = 0x90;
    const auto backup = Checksum::backupAssessment(image);
    EXPECT_EQ(backup.displayed(), 0x9090);
    EXPECT_FALSE(backup.isRecognized());

    const auto againstBackup = Checksum::firmwareFileAssessment(image, backup, false);
    EXPECT_EQ(againstBackup.kind(), FirmwareFileAssessment::Kind::alreadyOnCalculator);

    const auto skipped = Checksum::firmwareFileAssessment(image, backup, true);
    EXPECT_EQ(skipped, Checksum::firmwareFileAssessment(image, std::nullopt, false));
    EXPECT_EQ(skipped.kind(), FirmwareFileAssessment::Kind::unrecognized);
    EXPECT_EQ(skipped.displayed(), 0x9090);
}

} // namespace
} // namespace pelwick
