#include "device/UsbIdentity.h"

#include "device/DeviceText.h"
#include "util/Format.h"

#include <fstream>

namespace pelwick {

namespace {

std::optional<std::string> readLine(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) {
        return std::nullopt;
    }
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
        line.pop_back();
    }
    return line;
}

std::optional<std::uint16_t> readHexId(const std::filesystem::path& file) {
    const auto text = readLine(file);
    if (!text || text->empty() || text->size() > 4) {
        return std::nullopt;
    }
    try {
        std::size_t used = 0;
        const unsigned long value = std::stoul(*text, &used, 16);
        if (used != text->size()) {
            return std::nullopt;
        }
        return static_cast<std::uint16_t>(value);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

} // namespace

std::string UsbIdentity::idText() const {
    return formatString("%04x:%04x", vendorId, productId);
}

std::string UsbIdentity::description() const {
    std::string text = idText();
    for (const std::string* part : {&manufacturer, &product}) {
        if (!part->empty()) {
            text += " " + escapedDeviceText(*part);
        }
    }
    if (!serialNumber.empty()) {
        text += " (serial " + escapedDeviceText(serialNumber) + ")";
    }
    return text;
}

std::optional<UsbIdentity> readUsbIdentity(const std::filesystem::path& sysfsRoot,
                                           const std::string& portName) {
    if (portName.empty() || portName.find('/') != std::string::npos) {
        return std::nullopt;
    }
    std::error_code code;
    auto directory =
        std::filesystem::canonical(sysfsRoot / "class" / "tty" / portName / "device", code);
    if (code) {
        return std::nullopt;
    }
    // ttyACM hangs off the USB interface, ttyUSB one level lower; the USB device that holds the
    // ids is a few levels up, never above the sysfs root.
    const auto root = std::filesystem::canonical(sysfsRoot, code);
    for (int level = 0; level < 4 && !code; ++level) {
        if (std::filesystem::exists(directory / "idVendor", code)) {
            const auto vendor = readHexId(directory / "idVendor");
            const auto product = readHexId(directory / "idProduct");
            if (!vendor || !product) {
                return std::nullopt;
            }
            UsbIdentity identity;
            identity.vendorId = *vendor;
            identity.productId = *product;
            identity.manufacturer = readLine(directory / "manufacturer").value_or("");
            identity.product = readLine(directory / "product").value_or("");
            identity.serialNumber = readLine(directory / "serial").value_or("");
            return identity;
        }
        if (directory == root || !directory.has_parent_path() ||
            directory.parent_path() == directory) {
            break;
        }
        directory = directory.parent_path();
    }
    return std::nullopt;
}

} // namespace pelwick
