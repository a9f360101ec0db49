#include "CommandError.h"

#include "device/FlasherError.h"
#include "util/FileIO.h"

#include <filesystem>

namespace pelwick {

namespace {

const char* caseName(FlasherError::Case kind) {
    using Case = FlasherError::Case;
    switch (kind) {
    case Case::firmwareNotFound:
        return "firmwareNotFound";
    case Case::firmwareTooLarge:
        return "firmwareTooLarge";
    case Case::firmwareWrongSize:
        return "firmwareWrongSize";
    case Case::writeWouldTouchBootloader:
        return "writeWouldTouchBootloader";
    case Case::serialOpenFailed:
        return "serialOpenFailed";
    case Case::sambaTimeout:
        return "sambaTimeout";
    case Case::sambaProtocol:
        return "sambaProtocol";
    case Case::unsupportedDevice:
        return "unsupportedDevice";
    case Case::flashControllerError:
        return "flashControllerError";
    case Case::appletFailed:
        return "appletFailed";
    case Case::firmwareEmpty:
        return "firmwareEmpty";
    case Case::noProgrammingCable:
        return "noProgrammingCable";
    case Case::serialPortClosed:
        return "serialPortClosed";
    case Case::verifyMismatch:
        return "verifyMismatch";
    case Case::notConnected:
        return "notConnected";
    }
    return "failed";
}

} // namespace

ErrorDescription currentError() {
    const std::string message = currentExceptionMessage();
    try {
        throw;
    } catch (const FlasherError& error) {
        return {caseName(error.kind()), message};
    } catch (const CommandError& error) {
        return {error.kind(), message};
    } catch (const std::filesystem::filesystem_error&) {
        return {"file", message};
    } catch (...) {
        return {"failed", message};
    }
}

} // namespace pelwick
