#include "store/FlasherStore.h"

#include "device/FlasherError.h"
#include "device/SerialOpenHelp.h"
#include "firmware/VoyagerFirmwareChecksum.h"
#include "store/StoreInternals.h"
#include "util/FileIO.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace pelwick {

using namespace StoreTexts;

namespace {

constexpr const char* checksumLabelPrefix = "ChE - - ";
constexpr const char* middleDot = " · ";

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (std::size_t index = 0; index < parts.size(); ++index) {
        text += (index == 0 ? "" : separator) + parts[index];
    }
    return text;
}

} // namespace

CableListing listCables(const Flasher& flasher) {
    CableListing listing;
    try {
        listing.cables = flasher.listProgrammingCables();
    } catch (...) {
        return {};
    }
    for (const SerialPort& port : listing.cables) {
        if (port.isModemPort()) {
            listing.modems.push_back(port);
        }
    }
    // A port whose USB id is the SAM-BA monitor's is the one a connection tries first, so it is
    // the one the status names.
    std::stable_partition(listing.modems.begin(), listing.modems.end(),
                          [](const SerialPort& port) { return port.isConfirmedSambaPort(); });
    return listing;
}

std::string messageOf(std::exception_ptr error) {
    if (!error) {
        return {};
    }
    try {
        std::rethrow_exception(error);
    } catch (...) {
        return currentExceptionMessage();
    }
}

std::string connectedStatus(const DeviceIdentity& identity) {
    return (identity.isSupported15C() ? "Connected: " : "Unsupported chip: ") + identity.name;
}

FlasherStore::FlasherStore(StorePlatform platform)
    : platform_(std::move(platform)), status_(waitingForCable), firmwareDetail_(noFirmwareSelected),
      expectedChecksumLabel_(emptyChecksumLabel), flasher_(platform_.makeRealCableFlasher()) {
    const auto mode = platform_.settings->string(flasherModeKey);
    selectedMode_ =
        mode ? flasherModeFromRaw(*mode).value_or(FlasherMode::demo) : FlasherMode::demo;
    hasCompletedDemo_ = platform_.settings->boolean(demoModeCompletedKey).value_or(false);
    fastTransfer_ = platform_.settings->boolean(fastTransferKey).value_or(false);
}

FlasherStore::~FlasherStore() {
    // Device work still running keeps its own reference; the port closes when it lets go.
    if (client_) {
        closeClient(client_);
    }
}

std::shared_ptr<FlasherStore> FlasherStore::create(StorePlatform platform) {
    auto store = std::make_shared<FlasherStore>(std::move(platform));
    // Only now is there a weak pointer for the opens to report to.
    store->flasher_ = store->recordingPortOpens(std::move(store->flasher_));
    return store;
}

void FlasherStore::setOnChange(std::function<void()> onChange) {
    assertMainThread();
    onChange_ = std::move(onChange);
}

void FlasherStore::assertMainThread() const {
    if (!platform_.mainQueue->isMainThread()) {
        std::fputs("FlasherStore used off the main thread\n", stderr);
        std::abort();
    }
}

void FlasherStore::notify() {
    if (onChange_) {
        onChange_();
    }
}

Flasher FlasherStore::realCableFlasher() {
    return recordingPortOpens(platform_.makeRealCableFlasher());
}

Flasher FlasherStore::recordingPortOpens(Flasher flasher) {
    // Runs where the port is opened (device work, off the main thread), so the reason of a
    // refused open is read from the error right there and reaches the store with the result.
    flasher.openTransport =
        [open = std::move(flasher.openTransport), queue = platform_.mainQueue,
         weak = weakSelf()](const SerialPort& port) -> std::unique_ptr<ByteTransport> {
        auto report = [&](PortOpenRecord record) {
            queue->post([weak, path = port.path, record = std::move(record)] {
                if (auto store = weak.lock()) {
                    store->notePortOpen(path, record);
                }
            });
        };
        try {
            auto transport = open(port);
            report({port.usb, std::nullopt});
            return transport;
        } catch (const FlasherError& error) {
            report({port.usb, error.kind() == FlasherError::Case::serialOpenFailed
                                  ? serialOpenHelp(port.path, error.openErrno())
                                  : std::nullopt});
            throw;
        }
    };
    return flasher;
}

void FlasherStore::notePortOpen(const std::string& path, PortOpenRecord record) {
    assertMainThread();
    const auto found = portOpenRecords_.find(path);
    const PortOpenRecord previous =
        found == portOpenRecords_.end() ? PortOpenRecord{} : found->second;
    portOpenRecords_[path] = record;
    if (record != previous) {
        notify();
    }
}

void FlasherStore::setSelectedMode(FlasherMode mode) {
    assign(selectedMode_, mode);
}
void FlasherStore::setBatchBackupChoice(BatchBackupChoice choice) {
    assign(batchBackupChoice_, choice);
}
void FlasherStore::setConfirmFlash(bool asking) {
    assign(confirmFlash_, asking);
}
void FlasherStore::setConfirmSkipBackup(bool asking) {
    assign(confirmSkipBackup_, asking);
}

// ---- Start, stop and mode choice -----------------------------------------------------------

void FlasherStore::start() {
    assertMainThread();
    installSimulatorHotKey();
    ++pollGeneration_;
    if (pollTimer_ != 0) {
        platform_.mainQueue->cancel(pollTimer_);
        pollTimer_ = 0;
    }
    pollActive_ = true;
    schedulePollPass(0.0);
}

void FlasherStore::stop() {
    assertMainThread();
    endSession();
    stopMonitoring();
    removeSimulatorHotKey();
    disconnect();
}

void FlasherStore::stopMonitoring() {
    ++pollGeneration_;
    if (pollTimer_ != 0) {
        platform_.mainQueue->cancel(pollTimer_);
        pollTimer_ = 0;
    }
    pollActive_ = false;
}

void FlasherStore::endSession() {
    session_->end();
    session_ = std::make_shared<WorkSession>();
    batchUnitWorkTask_.reset();
}

void FlasherStore::beginChosenSession() {
    assertMainThread();
    endSession();
    platform_.settings->setString(flasherModeKey, rawValue(selectedMode_));
    if (selectedMode_ == FlasherMode::batch) {
        beginBatchSession();
        return;
    }
    const FlasherMode mode = selectedMode_;
    resetWizardForNewSession();
    assign(showWelcome_, false);
    if (mode == FlasherMode::probe) {
        setUsingSimulator(false);
        assign(status_, waitingForCable);
    } else {
        setUsingSimulator(mode == FlasherMode::demo);
    }
}

void FlasherStore::clearSessionResults() {
    assign(lastError_, std::nullopt);
    assign(successMessage_, std::nullopt);
    assign(flashFellBack_, false);
    assign(progress_, std::nullopt);
    assign(progressCaption_, std::nullopt);
    assign(flashPageHeader_, std::nullopt);
    assign(flashPageLines_, std::vector<std::string>{});
    assign(identity_, std::nullopt);
    assign(portPath_, std::nullopt);
    assign(sambaVersion_, std::nullopt);
    demoConnectAfter_.reset();
}

void FlasherStore::returnToWelcome() {
    assertMainThread();
    endSession();
    disconnect();
    editWizard([](WizardState& w) { w.identitySupported = false; });
    editWizard([](WizardState& w) { w.isBusy = false; });
    assign(lastError_, std::nullopt);
    assign(successMessage_, std::nullopt);
    assign(progress_, std::nullopt);
    assign(progressCaption_, std::nullopt);
    demoConnectAfter_.reset();
    assign(batchPhase_, BatchPhase::setup);
    assign(batchUnitNumber_, 0);
    batchSessionStamp_.reset();
    clearChosenFirmware();
    assign(showWelcome_, true);
}

void FlasherStore::cycleWelcomeMode() {
    assertMainThread();
    const auto position = static_cast<std::size_t>(selectedMode_);
    assign(selectedMode_, allFlasherModes[(position + 1) % allFlasherModes.size()]);
}

void FlasherStore::setFastTransfer(bool fast) {
    assertMainThread();
    assign(fastTransfer_, fast);
    platform_.settings->setBool(fastTransferKey, fast);
}

void FlasherStore::markDemoCompleted() {
    assertMainThread();
    if (hasCompletedDemo_) {
        return;
    }
    assign(hasCompletedDemo_, true);
    platform_.settings->setBool(demoModeCompletedKey, true);
}

void FlasherStore::resetWizardForNewSession() {
    assertMainThread();
    assign(wizard_, WizardState{});
    clearChosenFirmware();
    clearCurrentFirmware();
    editWizard([](WizardState& w) { w.flashSucceeded = false; });
    clearSessionResults();
}

void FlasherStore::clearCurrentFirmware() {
    assertMainThread();
    assign(currentFirmware_, std::nullopt);
    assign(backupAssessment_, std::nullopt);
    assign(backupSkipped_, false);
    assign(backupFileName_, std::nullopt);
    editWizard([](WizardState& w) { w.backupResolved = false; });
    reassessFirmwareFile();
}

void FlasherStore::clearChosenFirmware() {
    firmwareImage_.reset();
    assign(firmwareURL_, std::nullopt);
    assign(firmwareDetail_, noFirmwareSelected);
    assign(expectedChecksumLabel_, emptyChecksumLabel);
    editWizard([](WizardState& w) { w.firmwareOK = false; });
    assign(firmwareAssessment_, std::nullopt);
}

void FlasherStore::reassessFirmwareFile() {
    // The bytes judged when the file was chosen, which are the ones a flash writes; the file on
    // disk is not read again.
    if (firmwareImage_) {
        assign(firmwareAssessment_,
               FirmwareFileAssessment(VoyagerFirmwareChecksum::displayedValue(firmwareImage_->data),
                                      backupAssessment_));
    }
}

// ---- Busy and progress ---------------------------------------------------------------------

void FlasherStore::beginBusy(const std::string& statusText,
                             const std::optional<std::string>& caption) {
    assertMainThread();
    editWizard([](WizardState& w) { w.isBusy = true; });
    assign(lastError_, std::nullopt);
    assign(successMessage_, std::nullopt);
    assign(flashFellBack_, false);
    assign(progress_, 0.0);
    assign(progressCaption_, caption);
    assign(progressIsVerify_, false);
    assign(status_, statusText);
    assign(flashPageHeader_, std::nullopt);
    assign(flashPageLines_, std::vector<std::string>{});
}

void FlasherStore::finishBusySuccess(const std::string& message,
                                     const std::function<void()>& extra) {
    assertMainThread();
    editWizard([](WizardState& w) { w.isBusy = false; });
    assign(progress_, 1.0);
    assign(progressCaption_, std::nullopt);
    assign(progressIsVerify_, false);
    assign(flashPageHeader_, std::nullopt);
    assign(flashPageLines_, std::vector<std::string>{});
    assign(successMessage_, message);
    if (extra) {
        extra();
    }
    assign(status_, identity_ ? "Connected: " + identity_->name : std::string("Connected."));
}

void FlasherStore::finishBusyFailure(std::exception_ptr error) {
    assertMainThread();
    editWizard([](WizardState& w) { w.isBusy = false; });
    assign(progress_, std::nullopt);
    assign(progressCaption_, std::nullopt);
    assign(progressIsVerify_, false);
    assign(flashPageHeader_, std::nullopt);
    assign(flashPageLines_, std::vector<std::string>{});
    assign(lastError_, messageOf(error));
    assign(status_, operationFailed);
    disconnect();
    editWizard([](WizardState& w) { w.identitySupported = false; });
}

void FlasherStore::applyFlashProgress(double fraction, FlashProgressPhase phase) {
    assertMainThread();
    switch (phase) {
    case FlashProgressPhase::reading:
        return;
    case FlashProgressPhase::writing:
        assign(progress_, std::min(fraction, 1.0));
        assign(progressCaption_, "Flashing");
        assign(progressIsVerify_, false);
        assign(status_, writingFirmware);
        return;
    case FlashProgressPhase::verifying:
        if (!progressIsVerify_) {
            assign(progress_, std::nullopt);
            assign(progressBarID_, progressBarID_ + 1);
            assign(progressCaption_, "Verifying");
            assign(progressIsVerify_, true);
            assign(status_, verifyingFirmware);
        }
        assign(progress_, fraction);
        return;
    }
}

// ---- Derived values --------------------------------------------------------------------------

bool FlasherStore::isProbeSession() const {
    return !showWelcome_ && selectedMode_ == FlasherMode::probe;
}

bool FlasherStore::isBatchSession() const {
    return !showWelcome_ && selectedMode_ == FlasherMode::batch;
}

std::string FlasherStore::appTitle() const {
    if (showWelcome_ || isProbeSession()) {
        return "Pelwick";
    }
    std::optional<KnownFirmwareEntry> known;
    if (isBatchSession()) {
        if (firmwareAssessment_) {
            known = firmwareAssessment_->known();
        }
    } else if (backupAssessment_) {
        known = backupAssessment_->known();
    }
    if (!known) {
        return "Pelwick";
    }
    if (known->model == "HP 16c Collector’s Edition") {
        return "Pelwick 16CE";
    }
    if (known->model == "HP 12c") {
        return "Pelwick 12c";
    }
    return "Pelwick";
}

std::optional<UsbIdentity> FlasherStore::portUsbIdentity() const {
    const auto found = portPath_ ? portOpenRecords_.find(*portPath_) : portOpenRecords_.end();
    return found == portOpenRecords_.end() ? std::nullopt : found->second.usb;
}

std::optional<std::string> FlasherStore::portOpenHelp() const {
    const auto found = portPath_ ? portOpenRecords_.find(*portPath_) : portOpenRecords_.end();
    return found == portOpenRecords_.end() ? std::nullopt : found->second.help;
}

std::optional<std::string> FlasherStore::lastErrorHelp() const {
    if (!lastError_) {
        return std::nullopt;
    }
    for (const auto& [path, record] : portOpenRecords_) {
        if (record.help && *lastError_ == FlasherError::serialOpenFailed(path).errorDescription()) {
            return record.help;
        }
    }
    return std::nullopt;
}

std::optional<std::string> FlasherStore::flashedModelName() const {
    if (firmwareAssessment_ && firmwareAssessment_->known()) {
        return firmwareAssessment_->known()->model;
    }
    if (backupAssessment_ && backupAssessment_->known()) {
        return backupAssessment_->known()->model;
    }
    return std::nullopt;
}

std::string FlasherStore::expectedChecksumShort() const {
    const std::string prefix = checksumLabelPrefix;
    if (expectedChecksumLabel_.starts_with(prefix)) {
        return expectedChecksumLabel_.substr(prefix.size());
    }
    return "----h";
}

bool FlasherStore::canBackup() const {
    return !wizard_.isBusy && client_ && identity_ && identity_->isSupported15C();
}

bool FlasherStore::canSaveBackup() const {
    return !wizard_.isBusy && currentFirmware_.has_value();
}

bool FlasherStore::canFlash() const {
    return canBackup() && wizard_.firmwareOK && wizard_.backupResolved;
}

std::optional<std::string> FlasherStore::completionDetail(WizardStep step) const {
    if (static_cast<int>(step) >= static_cast<int>(wizard_.step)) {
        return std::nullopt;
    }
    switch (step) {
    case WizardStep::cable:
        return "Pogo cable seated";
    case WizardStep::programmingMode: {
        std::vector<std::string> parts;
        if (identity_ && identity_->isSupported15C()) {
            parts.push_back(identity_->name);
        }
        if (portPath_) {
            parts.push_back(*portPath_);
        }
        if (parts.empty()) {
            return "SAM-BA connected";
        }
        return "Connected " + joined(parts, middleDot);
    }
    case WizardStep::backup: {
        const std::string suffix =
            backupAssessment_
                ? middleDot + VoyagerFirmwareChecksum::formatted(backupAssessment_->displayed())
                : std::string();
        if (backupSkipped_) {
            return "Backup skipped" + suffix;
        }
        if (backupFileName_) {
            return "Saved " + *backupFileName_ + suffix;
        }
        return "Backup saved" + suffix;
    }
    case WizardStep::firmware:
        if (firmwareURL_) {
            return "Loaded firmware " + firmwareURL_->filename().string();
        }
        return "Firmware selected";
    case WizardStep::flash:
        return "Flashed and verified at 0x04000";
    case WizardStep::finish:
        return "RESET, then ON. Pr Error expected";
    case WizardStep::checksum:
        return std::nullopt;
    }
    return std::nullopt;
}

} // namespace pelwick
