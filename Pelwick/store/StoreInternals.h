#pragma once

// Shared by the store's source files only: the texts several of them set, and the field edits
// that notify the observer.

#include "store/FlasherStore.h"

#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace pelwick {

namespace StoreTexts {
inline constexpr const char* waitingForCable = "Waiting for programming cable…";
inline constexpr const char* cableDetected =
    "Cable detected. Hold ERASE, press RESET, then release ERASE.";
inline constexpr const char* waitingForSamba = "Waiting for SAM-BA…";
inline constexpr const char* waitingForSambaHint =
    "Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.";
inline constexpr const char* reconnecting = "Reconnecting to SAM-BA…";
inline constexpr const char* operationFailed = "Operation failed.";
inline constexpr const char* noFirmwareSelected = "No firmware selected.";
inline constexpr const char* emptyChecksumLabel = "ChE - - ----h";
inline constexpr const char* readingFirmware = "Reading firmware…";
inline constexpr const char* writingFirmware = "Writing firmware…";
inline constexpr const char* verifyingFirmware = "Verifying firmware…";
inline constexpr const char* firmwareChanged =
    "The firmware file changed since it was checked. Choose it again.";
} // namespace StoreTexts

/// Keeps a "dialog is open" flag set for as long as a modal dialog runs, even if it throws.
class PanelOpen {
public:
    explicit PanelOpen(bool& flag) : flag_(flag) { flag_ = true; }
    ~PanelOpen() { flag_ = false; }
    PanelOpen(const PanelOpen&) = delete;
    PanelOpen& operator=(const PanelOpen&) = delete;

private:
    bool& flag_;
};

/// The cables of one listing and the USB modem ports among them, both in listing order.
struct CableListing {
    std::vector<SerialPort> cables;
    std::vector<SerialPort> modems;
};

/// Lists the programming cables of `flasher`; a listing that fails counts as no cables.
CableListing listCables(const Flasher& flasher);

/// The user's sentence for an error value.
std::string messageOf(std::exception_ptr error);

/// "Connected: <name>" or "Unsupported chip: <name>" and the matching `lastError`.
std::string connectedStatus(const DeviceIdentity& identity);

template <typename T, typename V> void FlasherStore::assign(T& field, V&& value) {
    assertMainThread();
    if (field == value) {
        return;
    }
    field = std::forward<V>(value);
    notify();
}

template <typename Edit> void FlasherStore::editWizard(Edit&& edit) {
    assertMainThread();
    WizardState edited = wizard_;
    edit(edited);
    if (edited == wizard_) {
        return;
    }
    wizard_ = edited;
    notify();
}

} // namespace pelwick
