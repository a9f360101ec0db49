#pragma once

#include "firmware/KnownFirmwareEntry.h"
#include "util/Bytes.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pelwick {

/// The catalogue of known firmware, read from `known-firmware.json` in the resource bundle folder
/// `Pelwick_PelwickCore.bundle`.
///
/// The bundle folder is looked for, in this order:
///  - if the environment variable `PELWICK_BUNDLE_DIR` is set and not empty, the bundle folder it
///    names and nothing else (for tests and for packagers who keep resources elsewhere);
///  - `Pelwick_PelwickCore.bundle` next to the running executable (the build tree);
///  - `../share/pelwick/Pelwick_PelwickCore.bundle` relative to the executable's folder (an
///    installation).
///
/// A missing bundle, a missing file or an invalid file is a broken installation: the first use of
/// `all()` then prints "Fatal error: " and the problem to standard error and ends the process with
/// exit status 70.
namespace KnownFirmware {

/// A catalogue item that fails validation. `what()` is the description shown to the user.
class ListError : public std::runtime_error {
public:
    explicit ListError(const std::string& description);

    std::string description() const { return what(); }
};

/// The three model names, in order: "HP 15c Collector’s Edition", "HP 16c Collector’s Edition",
/// "HP 12c".
const std::vector<std::string>& models();

/// The shipped catalogue in file order. Loaded and validated on first use, once per process and
/// safely from any thread; stops the process when the shipped file is missing or invalid.
const std::vector<KnownFirmwareEntry>& all();

/// The first entry of the shipped catalogue with this checksum.
std::optional<KnownFirmwareEntry> find(std::uint16_t checksum);

/// The first entry of `catalogue` with this checksum.
std::optional<KnownFirmwareEntry> find(std::uint16_t checksum,
                                       const std::vector<KnownFirmwareEntry>& catalogue);

/// Decodes and validates the bytes of a catalogue file:
/// {"firmware": [{"checksum": "…", "model": "…", "fileName": "…", "description": "…"}, …]}.
/// Malformed JSON or a wrong shape throws the JSON decoder's exception
/// (`nlohmann::json::exception`); the first item that fails a check throws `ListError`.
std::vector<KnownFirmwareEntry> parse(ByteView data);

} // namespace KnownFirmware

} // namespace pelwick
