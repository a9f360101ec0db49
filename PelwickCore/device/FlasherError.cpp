#include "device/FlasherError.h"

#include "util/Format.h"

namespace pelwick {

namespace {

const char* const kLeaveCablePluggedIn = "Leave the cable plugged in. If Status is not Connected, "
                                         "hold ERASE, press RESET, then release ERASE.";

} // namespace

FlasherError::FlasherError(Case kind) : kind_(kind) {}

FlasherError FlasherError::firmwareNotFound(std::filesystem::path url) {
    FlasherError error(Case::firmwareNotFound);
    error.url_ = std::move(url);
    error.describe();
    return error;
}

FlasherError FlasherError::firmwareTooLarge(long long actual, long long maximum) {
    FlasherError error(Case::firmwareTooLarge);
    error.actual_ = actual;
    error.limit_ = maximum;
    error.describe();
    return error;
}

FlasherError FlasherError::firmwareWrongSize(long long actual, long long expected) {
    FlasherError error(Case::firmwareWrongSize);
    error.actual_ = actual;
    error.limit_ = expected;
    error.describe();
    return error;
}

FlasherError FlasherError::writeWouldTouchBootloader(std::uint32_t address) {
    FlasherError error(Case::writeWouldTouchBootloader);
    error.value_ = address;
    error.describe();
    return error;
}

FlasherError FlasherError::serialOpenFailed(std::string path, int openErrno) {
    FlasherError error(Case::serialOpenFailed);
    error.text_ = std::move(path);
    error.openErrno_ = openErrno;
    error.describe();
    return error;
}

FlasherError FlasherError::sambaTimeout(std::string detail) {
    FlasherError error(Case::sambaTimeout);
    error.text_ = std::move(detail);
    error.describe();
    return error;
}

FlasherError FlasherError::timedOutWhile(const std::string& activity) {
    return sambaTimeout("Timed out " + activity + ". " + kLeaveCablePluggedIn);
}

FlasherError FlasherError::sambaProtocol(std::string detail) {
    FlasherError error(Case::sambaProtocol);
    error.text_ = std::move(detail);
    error.describe();
    return error;
}

FlasherError FlasherError::unsupportedDevice(std::string name, std::uint32_t cidr,
                                             std::uint32_t exid) {
    FlasherError error(Case::unsupportedDevice);
    error.text_ = std::move(name);
    error.value_ = cidr;
    error.exid_ = exid;
    error.describe();
    return error;
}

FlasherError FlasherError::flashControllerError(std::uint32_t status) {
    FlasherError error(Case::flashControllerError);
    error.value_ = status;
    error.describe();
    return error;
}

FlasherError FlasherError::appletFailed(std::uint32_t status) {
    FlasherError error(Case::appletFailed);
    error.value_ = status;
    error.describe();
    return error;
}

FlasherError FlasherError::firmwareEmpty() {
    FlasherError error(Case::firmwareEmpty);
    error.describe();
    return error;
}

FlasherError FlasherError::noProgrammingCable() {
    FlasherError error(Case::noProgrammingCable);
    error.describe();
    return error;
}

FlasherError FlasherError::serialPortClosed() {
    FlasherError error(Case::serialPortClosed);
    error.describe();
    return error;
}

FlasherError FlasherError::verifyMismatch() {
    FlasherError error(Case::verifyMismatch);
    error.describe();
    return error;
}

FlasherError FlasherError::notConnected() {
    FlasherError error(Case::notConnected);
    error.describe();
    return error;
}

void FlasherError::describe() {
    switch (kind_) {
    case Case::firmwareNotFound:
        description_ = "Firmware file not found: " + url_.string();
        break;
    case Case::firmwareTooLarge:
        description_ = "Firmware is " + std::to_string(actual_) +
                       " bytes; maximum application size is " + std::to_string(limit_) + " bytes.";
        break;
    case Case::firmwareWrongSize:
        description_ = "Firmware is " + std::to_string(actual_) + " bytes; expected " +
                       std::to_string(limit_) + " bytes (0x" +
                       lowerHex(static_cast<std::uint64_t>(limit_)) + ").";
        break;
    case Case::writeWouldTouchBootloader:
        description_ =
            "Refusing write at 0x" + lowerHex(value_) + "; bootloader occupies 0x0000\u20130x3FFF.";
        break;
    case Case::serialOpenFailed:
        description_ = "Could not open serial port " + text_ + ".";
        break;
    case Case::sambaTimeout:
        description_ = text_.empty()
                           ? std::string("Timed out talking to SAM-BA. ") + kLeaveCablePluggedIn
                           : text_;
        break;
    case Case::sambaProtocol:
        description_ = "SAM-BA protocol error: " + text_;
        break;
    case Case::unsupportedDevice:
        description_ = formatString("Unsupported chip %s (CIDR=0x%08X EXID=0x%08X). This tool is "
                                    "for post-2015 Voyager calculators (15c CE, 16c CE, 12c) with "
                                    "an ATSAM4LC2C.",
                                    text_.c_str(), value_, exid_);
        break;
    case Case::flashControllerError:
        description_ = formatString("FLASHCALW reported an error (FSR=0x%08X).", value_);
        break;
    case Case::appletFailed:
        description_ = formatString("SAM-BA flash applet failed (status=0x%08X). ", value_) +
                       kLeaveCablePluggedIn;
        break;
    case Case::firmwareEmpty:
        description_ = "Firmware file is empty.";
        break;
    case Case::noProgrammingCable:
        description_ = "No HP programming cable detected. Put the calculator in programming mode "
                       "and reconnect.";
        break;
    case Case::serialPortClosed:
        description_ = "The programming cable disconnected. Hold ERASE, press RESET, then release "
                       "ERASE and wait for the port to reappear.";
        break;
    case Case::verifyMismatch:
        description_ = "Verify failed: flash contents do not match the firmware file. Leave the "
                       "cable in programming mode and try again.";
        break;
    case Case::notConnected:
        description_ = "Not connected to a programming cable.";
        break;
    }
}

bool FlasherError::operator==(const FlasherError& other) const {
    return kind_ == other.kind_ && text_ == other.text_ && url_ == other.url_ &&
           actual_ == other.actual_ && limit_ == other.limit_ && value_ == other.value_ &&
           exid_ == other.exid_;
}

} // namespace pelwick
