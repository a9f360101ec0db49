#include "device/FlasherError.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

const std::string kLeave =
    " Leave the cable plugged in. If Status is not Connected, hold ERASE, press RESET, then "
    "release ERASE.";

// The one table of the device side's user-facing sentences; every other test compares errors.
TEST(FlasherError, DescribesEveryCaseWithItsExactText) {
    const std::vector<std::pair<FlasherError, std::string>> table = {
        {FlasherError::firmwareNotFound("/home/a/fw 1.bin"),
         "Firmware file not found: /home/a/fw 1.bin"},
        {FlasherError::firmwareTooLarge(200000, 114688),
         "Firmware is 200000 bytes; maximum application size is 114688 bytes."},
        // Concatenated texts: lowercase digits without padding; formatted ones: eight uppercase.
        {FlasherError::firmwareWrongSize(100, 114688),
         "Firmware is 100 bytes; expected 114688 bytes (0x1c000)."},
        {FlasherError::writeWouldTouchBootloader(0x3000),
         "Refusing write at 0x3000; bootloader occupies 0x0000\u20130x3FFF."},
        {FlasherError::writeWouldTouchBootloader(0xFFFFFFFF),
         "Refusing write at 0xffffffff; bootloader occupies 0x0000\u20130x3FFF."},
        {FlasherError::serialOpenFailed("/dev/ttyACM0"),
         "Could not open serial port /dev/ttyACM0."},
        {FlasherError::sambaTimeout(), "Timed out talking to SAM-BA." + kLeave},
        // A detail replaces the generic text, even a blank one.
        {FlasherError::sambaTimeout("Timed out writing page 3."), "Timed out writing page 3."},
        {FlasherError::sambaTimeout(" "), " "},
        {FlasherError::timedOutWhile("writing flash"), "Timed out writing flash." + kLeave},
        {FlasherError::sambaProtocol("empty version string"),
         "SAM-BA protocol error: empty version string"},
        {FlasherError::unsupportedDevice("ATSAM4LC4C", 0xAB0A09E0, 0x0400000F),
         "Unsupported chip ATSAM4LC4C (CIDR=0xAB0A09E0 EXID=0x0400000F). This tool is for "
         "post-2015 Voyager calculators (15c CE, 16c CE, 12c) with an ATSAM4LC2C."},
        // A name with a percent sign is printed as it is, not taken as a format.
        {FlasherError::unsupportedDevice("%s%n", 0, 0),
         "Unsupported chip %s%n (CIDR=0x00000000 EXID=0x00000000). This tool is for post-2015 "
         "Voyager calculators (15c CE, 16c CE, 12c) with an ATSAM4LC2C."},
        {FlasherError::flashControllerError(8), "FLASHCALW reported an error (FSR=0x00000008)."},
        {FlasherError::appletFailed(0x0F),
         "SAM-BA flash applet failed (status=0x0000000F)." + kLeave},
        {FlasherError::firmwareEmpty(), "Firmware file is empty."},
        {FlasherError::noProgrammingCable(),
         "No HP programming cable detected. Put the calculator in programming mode and "
         "reconnect."},
        {FlasherError::serialPortClosed(),
         "The programming cable disconnected. Hold ERASE, press RESET, then release ERASE and "
         "wait for the port to reappear."},
        {FlasherError::verifyMismatch(),
         "Verify failed: flash contents do not match the firmware file. Leave the cable in "
         "programming mode and try again."},
        {FlasherError::notConnected(), "Not connected to a programming cable."},
    };
    for (const auto& [error, text] : table) {
        EXPECT_EQ(error.errorDescription(), text);
        // what() is the same sentence, for code that only knows std::exception.
        EXPECT_EQ(error.what(), text);
    }
    EXPECT_EQ(FlasherError::timedOutWhile("x").kind(), FlasherError::Case::sambaTimeout);
}

} // namespace
} // namespace pelwick
