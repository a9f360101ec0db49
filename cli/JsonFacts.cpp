#include "JsonFacts.h"

#include "firmware/VoyagerFirmwareChecksum.h"

#include <chrono>
#include <cmath>

namespace pelwick {

namespace {

using Json = JsonReport::Json;

Json modelOf(const std::optional<KnownFirmwareEntry>& entry) {
    return entry ? Json(entry->model) : Json();
}

const char* verdictName(FirmwareFileAssessment::Kind kind) {
    switch (kind) {
    case FirmwareFileAssessment::Kind::alreadyOnCalculator:
        return "alreadyOnCalculator";
    case FirmwareFileAssessment::Kind::known:
        return "known";
    case FirmwareFileAssessment::Kind::otherModel:
        return "otherModel";
    case FirmwareFileAssessment::Kind::unrecognized:
        return "unrecognized";
    }
    return "unrecognized";
}

} // namespace

Json usbFacts(const std::optional<UsbIdentity>& usb) {
    if (!usb) {
        return Json();
    }
    return Json{{"id", usb->idText()},
                {"manufacturer", usb->manufacturer},
                {"product", usb->product},
                {"serialNumber", usb->serialNumber},
                {"sambaMonitor", usb->isSambaMonitor()}};
}

Json calculatorFirmwareFacts(const BackupChecksumAssessment& verdict) {
    return Json{{"checksum", VoyagerFirmwareChecksum::formatted(verdict.displayed())},
                {"testMenu", VoyagerFirmwareChecksum::testMenuDisplay(verdict.displayed())},
                {"known", verdict.isRecognized()},
                {"model", modelOf(verdict.known())},
                {"message", verdict.message()}};
}

Json firmwareFileFacts(const FirmwareFileAssessment& verdict) {
    return Json{{"checksum", VoyagerFirmwareChecksum::formatted(verdict.displayed())},
                {"testMenu", VoyagerFirmwareChecksum::testMenuDisplay(verdict.displayed())},
                {"verdict", verdictName(verdict.kind())},
                {"caution", verdict.isCaution()},
                {"model", modelOf(verdict.known())},
                {"message", verdict.message()}};
}

double secondsSince(MonotonicClock::time_point started) {
    const std::chrono::duration<double> elapsed = MonotonicClock::now() - started;
    return std::round(elapsed.count() * 1000) / 1000;
}

void reportTarget(JsonReport& report, const ConnectedTarget& target) {
    report.set("port", target.port.path);
    report.set("usb", usbFacts(target.port.usb));
    report.set("monitor", target.client->version());
    report.set("chip", target.identity.name);
}

} // namespace pelwick
