#include "firmware/KnownFirmware.h"

#include "util/FileIO.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace pelwick::KnownFirmware {

namespace fs = std::filesystem;

namespace {

constexpr const char* bundleName = "Pelwick_PelwickCore.bundle";
constexpr const char* catalogueFileName = "known-firmware.json";

/// One catalogue item as written in the file, before validation.
struct RawItem {
    std::string checksum;
    std::string model;
    std::string fileName;
    std::string description;
};

RawItem decodeItem(const nlohmann::json& item) {
    return {item.at("checksum").get<std::string>(), item.at("model").get<std::string>(),
            item.at("fileName").get<std::string>(), item.at("description").get<std::string>()};
}

int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

/// An optional "0x"/"0X", then one to four characters: an optional sign and hexadecimal digits.
/// A "-" is only accepted before a value of zero, since the value is unsigned.
std::optional<std::uint16_t> parseChecksum(std::string_view text) {
    if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 4) {
        return std::nullopt;
    }
    const bool negative = text.front() == '-';
    if (negative || text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : text) {
        const int digit = hexDigitValue(c);
        if (digit < 0) {
            return std::nullopt;
        }
        value = value * 16 + static_cast<unsigned>(digit);
    }
    if (negative && value != 0) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

bool isValidFileName(std::string_view name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

std::string modelList() {
    std::string list;
    for (const auto& model : models()) {
        list += (list.empty() ? "" : ", ") + model;
    }
    return list;
}

[[noreturn]] void stopWithFatalError(const std::string& message) {
    const std::string line = "Fatal error: " + message + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    std::_Exit(70);
}

bool isFolder(const fs::path& path) {
    std::error_code error;
    return fs::is_directory(path, error);
}

std::vector<fs::path> bundleCandidates() {
    if (const char* named = std::getenv("PELWICK_BUNDLE_DIR"); named && *named) {
        return {fs::path(named)};
    }
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        return {};
    }
    const fs::path folder = executable.parent_path();
    return {folder / bundleName, folder / ".." / "share" / "pelwick" / bundleName};
}

std::vector<KnownFirmwareEntry> loadShippedCatalogue() {
    const auto candidates = bundleCandidates();
    const auto bundle = std::find_if(candidates.begin(), candidates.end(), isFolder);
    if (bundle == candidates.end()) {
        stopWithFatalError("unable to find bundle named Pelwick_PelwickCore");
    }
    const fs::path file = *bundle / catalogueFileName;
    std::error_code error;
    if (!fs::is_regular_file(file, error)) {
        stopWithFatalError("known-firmware.json is missing from the PelwickCore bundle.");
    }
    try {
        return parse(readWholeFile(file));
    } catch (const std::exception& failure) {
        stopWithFatalError("known-firmware.json is invalid: " + userMessage(failure));
    }
}

} // namespace

ListError::ListError(const std::string& description) : std::runtime_error(description) {}

const std::vector<std::string>& models() {
    static const std::vector<std::string> names = {"HP 15c Collector’s Edition",
                                                   "HP 16c Collector’s Edition", "HP 12c"};
    return names;
}

const std::vector<KnownFirmwareEntry>& all() {
    // A function-local static is initialised once; concurrent first callers wait for it.
    static const std::vector<KnownFirmwareEntry> catalogue = loadShippedCatalogue();
    return catalogue;
}

std::optional<KnownFirmwareEntry> find(std::uint16_t checksum) {
    return find(checksum, all());
}

std::optional<KnownFirmwareEntry> find(std::uint16_t checksum,
                                       const std::vector<KnownFirmwareEntry>& catalogue) {
    const auto entry =
        std::find_if(catalogue.begin(), catalogue.end(),
                     [checksum](const KnownFirmwareEntry& e) { return e.checksum == checksum; });
    if (entry == catalogue.end()) {
        return std::nullopt;
    }
    return *entry;
}

std::vector<KnownFirmwareEntry> parse(ByteView data) {
    // The whole file is decoded before any item is validated, so a shape error anywhere wins over
    // a validation error in an earlier item.
    const auto root = nlohmann::json::parse(data.begin(), data.end());
    const auto& items = root.at("firmware").get_ref<const nlohmann::json::array_t&>();
    std::vector<RawItem> rawItems;
    rawItems.reserve(items.size());
    for (const auto& item : items) {
        rawItems.push_back(decodeItem(item));
    }

    std::vector<KnownFirmwareEntry> entries;
    entries.reserve(rawItems.size());
    for (const auto& item : rawItems) {
        const auto checksum = parseChecksum(item.checksum);
        if (!checksum) {
            throw ListError("Known firmware checksum \"" + item.checksum +
                            "\" is not a 4-digit hex value.");
        }
        if (std::find(models().begin(), models().end(), item.model) == models().end()) {
            throw ListError("Known firmware model \"" + item.model + "\" must be one of " +
                            modelList() + ".");
        }
        if (!isValidFileName(item.fileName)) {
            throw ListError("Known firmware fileName \"" + item.fileName +
                            "\" may use only lowercase letters, digits, and hyphens.");
        }
        if (find(*checksum, entries)) {
            throw ListError("Known firmware checksum " + item.checksum + " is listed twice.");
        }
        entries.push_back({*checksum, item.model, item.fileName, item.description});
    }
    return entries;
}

} // namespace pelwick::KnownFirmware
