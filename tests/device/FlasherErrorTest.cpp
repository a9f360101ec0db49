#include "device/FlasherError.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

const char* const kLeave =
    "Leave the cable plugged in. If Status is not Connected, hold ERASE, press RESET, then "
    "release ERASE.";

TEST(FlasherError, DescribesEveryCaseWithItsExactText) {
    EXPECT_EQ(FlasherError::firmwareNotFound("/home/a/fw 1.bin").errorDescription(),
              "Firmware file not found: /home/a/fw 1.bin");
    EXPECT_EQ(FlasherError::firmwareTooLarge(200000, 114688).errorDescription(),
              "Firmware is 200000 bytes; maximum application size is 114688 bytes.");
    EXPECT_EQ(FlasherError::serialOpenFailed("/dev/ttyACM0").errorDescription(),
              "Could not open serial port /dev/ttyACM0.");
    EXPECT_EQ(FlasherError::serialOpenFailed("").errorDescription(),
              "Could not open serial port .");
    EXPECT_EQ(FlasherError::sambaProtocol("empty version string").errorDescription(),
              "SAM-BA protocol error: empty version string");
    EXPECT_EQ(FlasherError::firmwareEmpty().errorDescription(), "Firmware file is empty.");
    EXPECT_EQ(FlasherError::noProgrammingCable().errorDescription(),
              "No HP programming cable detected. Put the calculator in programming mode and "
              "reconnect.");
    EXPECT_EQ(FlasherError::serialPortClosed().errorDescription(),
              "The programming cable disconnected. Hold ERASE, press RESET, then release ERASE "
              "and wait for the port to reappear.");
    EXPECT_EQ(FlasherError::verifyMismatch().errorDescription(),
              "Verify failed: flash contents do not match the firmware file. Leave the cable in "
              "programming mode and try again.");
    EXPECT_EQ(FlasherError::notConnected().errorDescription(),
              "Not connected to a programming cable.");
    // what() is the same sentence, for code that only knows std::exception.
    EXPECT_STREQ(FlasherError::notConnected().what(), "Not connected to a programming cable.");
}

TEST(FlasherError, TimeoutTextIsGenericOnlyWhenEmpty) {
    EXPECT_EQ(FlasherError::sambaTimeout("").errorDescription(),
              std::string("Timed out talking to SAM-BA. ") + kLeave);
    EXPECT_EQ(FlasherError::sambaTimeout().errorDescription(),
              FlasherError::sambaTimeout("").errorDescription());
    EXPECT_EQ(FlasherError::sambaTimeout(" ").errorDescription(), " ");
    EXPECT_EQ(FlasherError::sambaTimeout("Timed out writing page 3.").errorDescription(),
              "Timed out writing page 3.");
    const FlasherError relabelled = FlasherError::timedOutWhile("writing flash");
    EXPECT_EQ(relabelled.kind(), FlasherError::Case::sambaTimeout);
    EXPECT_EQ(relabelled.errorDescription(), std::string("Timed out writing flash. ") + kLeave);
}

TEST(FlasherError, UsesBothHexadecimalStylesAndTheEnDash) {
    // Concatenated texts: lowercase digits without padding.
    EXPECT_EQ(FlasherError::firmwareWrongSize(100, 114688).errorDescription(),
              "Firmware is 100 bytes; expected 114688 bytes (0x1c000).");
    EXPECT_EQ(FlasherError::writeWouldTouchBootloader(0).errorDescription(),
              "Refusing write at 0x0; bootloader occupies 0x0000\u20130x3FFF.");
    EXPECT_EQ(FlasherError::writeWouldTouchBootloader(0x3000).errorDescription(),
              "Refusing write at 0x3000; bootloader occupies 0x0000\xE2\x80\x93"
              "0x3FFF.");
    EXPECT_EQ(FlasherError::writeWouldTouchBootloader(0xFFFFFFFF).errorDescription(),
              "Refusing write at 0xffffffff; bootloader occupies 0x0000\u20130x3FFF.");
    // Formatted texts: eight uppercase digits.
    EXPECT_EQ(FlasherError::flashControllerError(8).errorDescription(),
              "FLASHCALW reported an error (FSR=0x00000008).");
    EXPECT_EQ(FlasherError::appletFailed(0x0F).errorDescription(),
              std::string("SAM-BA flash applet failed (status=0x0000000F). ") + kLeave);
    EXPECT_EQ(
        FlasherError::unsupportedDevice("ATSAM4LC4C", 0xAB0A09E0, 0x0400000F).errorDescription(),
        "Unsupported chip ATSAM4LC4C (CIDR=0xAB0A09E0 EXID=0x0400000F). This tool is for "
        "post-2015 Voyager calculators (15c CE, 16c CE, 12c) with an ATSAM4LC2C.");
    // A name with a percent sign is printed as it is, not taken as a format.
    EXPECT_EQ(FlasherError::unsupportedDevice("%s%n", 0, 0).errorDescription().substr(0, 23),
              "Unsupported chip %s%n (");
}

TEST(FlasherError, EqualsOnlyTheSameCaseWithTheSamePayload) {
    EXPECT_EQ(FlasherError::sambaProtocol("a"), FlasherError::sambaProtocol("a"));
    EXPECT_FALSE(FlasherError::sambaProtocol("a") == FlasherError::sambaProtocol("b"));
    EXPECT_FALSE(FlasherError::sambaProtocol("a") == FlasherError::sambaTimeout("a"));
    EXPECT_FALSE(FlasherError::serialOpenFailed("a") == FlasherError::sambaProtocol("a"));
    EXPECT_EQ(FlasherError::noProgrammingCable(), FlasherError::noProgrammingCable());
    EXPECT_FALSE(FlasherError::noProgrammingCable() == FlasherError::notConnected());
    EXPECT_FALSE(FlasherError::firmwareTooLarge(1, 2) == FlasherError::firmwareWrongSize(1, 2));
    EXPECT_FALSE(FlasherError::firmwareWrongSize(1, 2) == FlasherError::firmwareWrongSize(1, 3));
    EXPECT_FALSE(FlasherError::flashControllerError(1) == FlasherError::appletFailed(1));
    EXPECT_FALSE(FlasherError::unsupportedDevice("x", 1, 2) ==
                 FlasherError::unsupportedDevice("x", 1, 3));
    EXPECT_FALSE(FlasherError::unsupportedDevice("x", 1, 2) ==
                 FlasherError::unsupportedDevice("y", 1, 2));
    EXPECT_EQ(FlasherError::firmwareNotFound("/a/b.bin"),
              FlasherError::firmwareNotFound("/a/b.bin"));
    EXPECT_FALSE(FlasherError::firmwareNotFound("/a/b.bin") ==
                 FlasherError::firmwareNotFound("/a/c.bin"));
}

} // namespace
} // namespace pelwick
