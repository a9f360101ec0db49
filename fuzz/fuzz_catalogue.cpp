// The known-firmware catalogue parser on arbitrary bytes: it may only refuse with a ListError or
// the JSON decoder's error.
#include "firmware/KnownFirmware.h"

#include <nlohmann/json.hpp>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        const auto entries = pelwick::KnownFirmware::parse(pelwick::ByteView(data, size));
        for (const auto& entry : entries) {
            (void)entry.displayName();
            (void)pelwick::KnownFirmware::find(entry.checksum, entries);
        }
    } catch (const pelwick::KnownFirmware::ListError&) {
    } catch (const nlohmann::json::exception&) {
    }
    return 0;
}
