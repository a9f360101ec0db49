#pragma once

#include "JsonReport.h"

#include "device/UsbIdentity.h"
#include "firmware/FirmwareAssessment.h"
#include "flasher/Flasher.h"
#include "util/Clock.h"

#include <optional>

namespace pelwick {

// The facts that several commands report with --json, with the same field names everywhere.

/// {"id": "03eb:6124", "manufacturer", "product", "serialNumber", "sambaMonitor"}, or null.
JsonReport::Json usbFacts(const std::optional<UsbIdentity>& usb);
/// {"checksum": "9090h", "testMenu": "ChE - - 9090h", "known": …, "model": … or null, "message"}
/// of the firmware read from a calculator.
JsonReport::Json calculatorFirmwareFacts(const BackupChecksumAssessment& verdict);
/// {"checksum", "testMenu", "verdict": "known" | "alreadyOnCalculator" | "otherModel" |
/// "unrecognized", "caution", "model", "message"} of a firmware file.
JsonReport::Json firmwareFileFacts(const FirmwareFileAssessment& verdict);

/// Seconds from `started` until now, to the millisecond.
double secondsSince(MonotonicClock::time_point started);

/// Sets "port", "usb", "monitor" and "chip" of a connected calculator.
void reportTarget(JsonReport& report, const ConnectedTarget& target);

} // namespace pelwick
