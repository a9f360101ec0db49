#pragma once

#include <cstdint>
#include <exception>
#include <filesystem>
#include <string>

namespace pelwick {

/// The one error type of the device side. Every failure of the serial link, the SAM-BA protocol,
/// the flash programming and the firmware checks is one of these cases, and `errorDescription()`
/// is exactly the sentence the user reads.
class FlasherError : public std::exception {
public:
    enum class Case {
        firmwareNotFound,          ///< the firmware file is missing or unreadable (path)
        firmwareTooLarge,          ///< larger than the application region (actual, maximum)
        firmwareWrongSize,         ///< not exactly the application size (actual, expected)
        writeWouldTouchBootloader, ///< a write below 0x4000 was refused (address)
        serialOpenFailed,          ///< the serial device could not be opened (path)
        sambaTimeout,              ///< a reply did not come (specific sentence, or "" = generic)
        sambaProtocol,             ///< a protocol or serial fault (detail)
        unsupportedDevice,         ///< the chip is not a 128 KiB SAM4L (name, cidr, exid)
        flashControllerError,      ///< the flash controller reported an error (FSR)
        appletFailed,              ///< the flash applet returned a non-zero status (status)
        firmwareEmpty,             ///< the firmware file holds no bytes
        noProgrammingCable,        ///< no programming cable is listed
        serialPortClosed,          ///< the cable went away
        verifyMismatch,            ///< the read-back differs from the image
        notConnected,              ///< the link is closed
    };

    static FlasherError firmwareNotFound(std::filesystem::path url);
    static FlasherError firmwareTooLarge(long long actual, long long maximum);
    static FlasherError firmwareWrongSize(long long actual, long long expected);
    static FlasherError writeWouldTouchBootloader(std::uint32_t address);
    /// `openErrno` is the system's reason (EACCES, EBUSY, …; 0 when unknown). It travels with the
    /// error to whichever thread shows it, and is not part of the text or of equality.
    static FlasherError serialOpenFailed(std::string path, int openErrno = 0);
    static FlasherError sambaTimeout(std::string detail = {});
    /// sambaTimeout with the sentence "Timed out <activity>. Leave the cable plugged in. …", used
    /// by the layers that know what they were doing when the replies stopped.
    static FlasherError timedOutWhile(const std::string& activity);
    static FlasherError sambaProtocol(std::string detail);
    static FlasherError unsupportedDevice(std::string name, std::uint32_t cidr, std::uint32_t exid);
    static FlasherError flashControllerError(std::uint32_t status);
    static FlasherError appletFailed(std::uint32_t status);
    static FlasherError firmwareEmpty();
    static FlasherError noProgrammingCable();
    static FlasherError serialPortClosed();
    static FlasherError verifyMismatch();
    static FlasherError notConnected();

    Case kind() const noexcept { return kind_; }

    /// Text payload: the path of serialOpenFailed, the detail of sambaTimeout/sambaProtocol, the
    /// chip name of unsupportedDevice; empty otherwise.
    const std::string& text() const noexcept { return text_; }
    /// The firmware file of firmwareNotFound.
    const std::filesystem::path& url() const noexcept { return url_; }
    /// Byte counts of firmwareTooLarge (actual, maximum) and firmwareWrongSize (actual, expected).
    long long actual() const noexcept { return actual_; }
    long long limit() const noexcept { return limit_; }
    /// address of writeWouldTouchBootloader, status of flashControllerError and appletFailed,
    /// CIDR of unsupportedDevice.
    std::uint32_t value() const noexcept { return value_; }
    /// EXID of unsupportedDevice.
    std::uint32_t exid() const noexcept { return exid_; }
    /// The errno of serialOpenFailed's failed open() (0 when unknown).
    int openErrno() const noexcept { return openErrno_; }

    /// The exact sentence the user reads.
    const std::string& errorDescription() const noexcept { return description_; }
    const char* what() const noexcept override { return description_.c_str(); }

    bool operator==(const FlasherError& other) const;

private:
    explicit FlasherError(Case kind);
    void describe();

    Case kind_;
    std::string text_;
    std::filesystem::path url_;
    long long actual_ = 0;
    long long limit_ = 0;
    std::uint32_t value_ = 0;
    std::uint32_t exid_ = 0;
    int openErrno_ = 0;
    std::string description_;
};

} // namespace pelwick
