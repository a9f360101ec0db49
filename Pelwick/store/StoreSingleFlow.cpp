#include "firmware/VoyagerFirmwareChecksum.h"
#include "flash/FlashLayout.h"
#include "store/FlasherStore.h"
#include "store/StoreInternals.h"
#include "util/FileIO.h"

#include <stdexcept>

namespace pelwick {

using namespace StoreTexts;

namespace {

constexpr const char* checkCaption = "Checking current firmware";

} // namespace

void FlasherStore::advance() {
    assertMainThread();
    editWizard([](WizardState& w) { w.advance(); });
    if (wizard_.step == WizardStep::programmingMode) {
        assign(status_, usingSimulator_ ? cableDetected : waitingForSamba);
        sessionPost()([](FlasherStore& store) { store.refreshConnection(); });
    }
    if (wizard_.step == WizardStep::backup && !currentFirmware_ && !wizard_.backupResolved) {
        checkCurrentFirmware();
    }
    if (usingSimulator_ && wizard_.step == WizardStep::checksum) {
        markDemoCompleted();
    }
}

void FlasherStore::goBack() {
    assertMainThread();
    if (!wizard_.canGoBack()) {
        return;
    }
    if (wizard_.step == WizardStep::programmingMode) {
        // Back at the cable step nothing is probed: a pass still on its way is dropped.
        endSession();
        disconnect();
        editWizard([](WizardState& w) { w.identitySupported = false; });
        demoConnectAfter_.reset();
        clearCurrentFirmware();
    }
    editWizard([](WizardState& w) { w.goBack(); });
}

// ---- Reading the calculator's firmware --------------------------------------------------------

void FlasherStore::checkCurrentFirmware() {
    assertMainThread();
    if (wizard_.isBusy) {
        return;
    }
    clearCurrentFirmware();
    auto remembered = client_;
    beginBusy(readingFirmware, std::string(checkCaption));
    const SessionPost report = sessionPost();
    const Flasher tool = flasher_;
    withPreparedClient(
        remembered, tool, report,
        [report, tool](const std::shared_ptr<SambaClient>& client) {
            try {
                auto data = std::make_shared<const Bytes>(
                    tool.readApplication(client, [report](double fraction, FlashProgressPhase) {
                        report([fraction](FlasherStore& store) {
                            store.assign(store.progress_, fraction);
                            store.assign(store.progressCaption_, checkCaption);
                            store.assign(store.progressIsVerify_, false);
                        });
                    }));
                report([data](FlasherStore& store) { store.finishCheckSuccess(*data); });
            } catch (...) {
                report([error = std::current_exception()](FlasherStore& store) {
                    store.finishBusyFailure(error);
                });
            }
        },
        failureHandler(report, {}));
}

void FlasherStore::finishCheckSuccess(Bytes data) {
    editWizard([](WizardState& w) { w.isBusy = false; });
    assign(progress_, 1.0);
    assign(progressCaption_, std::nullopt);
    assign(progressIsVerify_, false);
    assign(flashPageHeader_, std::nullopt);
    assign(flashPageLines_, std::vector<std::string>{});
    assign(successMessage_, "Firmware checked.");
    assign(status_, identity_ ? "Connected: " + identity_->name : std::string("Connected."));
    const auto displayed = VoyagerFirmwareChecksum::displayedValue(data);
    assign(currentFirmware_, std::move(data));
    assign(backupAssessment_, BackupChecksumAssessment(displayed));
    reassessFirmwareFile();
}

// ---- Backup ----------------------------------------------------------------------------------

void FlasherStore::backup() {
    assertMainThread();
    if (!currentFirmware_ || !backupAssessment_) {
        return;
    }
    const std::string proposed = backupAssessment_->defaultBackupFileName(platform_.wallClock());
    // The image read and judged now is the one saved, whatever happens while the dialog is open.
    const Bytes image = *currentFirmware_;
    std::optional<std::filesystem::path> location;
    {
        PanelOpen panel(isPanelOpen_);
        location = platform_.dialogs->saveFile("Save current firmware", proposed);
    }
    if (!location) {
        return;
    }
    try {
        // Atomic, so a failed write never leaves a truncated backup in place of a good one.
        writeFileAtomically(*location, image);
    } catch (...) {
        assign(lastError_, currentExceptionMessage());
        return;
    }
    assign(lastError_, std::nullopt);
    assign(successMessage_, "Backup saved.");
    assign(backupSkipped_, false);
    assign(backupFileName_, location->filename().string());
    editWizard([](WizardState& w) { w.backupResolved = true; });
}

void FlasherStore::skipBackup() {
    assertMainThread();
    assign(confirmSkipBackup_, false);
    assign(backupSkipped_, true);
    assign(backupFileName_, std::nullopt);
    editWizard([](WizardState& w) { w.backupResolved = true; });
}

// ---- Choosing the firmware -------------------------------------------------------------------

void FlasherStore::chooseFirmware() {
    assertMainThread();
    std::optional<std::filesystem::path> location;
    {
        PanelOpen panel(isPanelOpen_);
        location = platform_.dialogs->openFile(
            "Choose firmware", "Select a 114,688 (0x1C000) byte file with a .bin extension. This "
                               "app does not download firmware.");
    }
    if (location) {
        applyFirmware(*location);
    }
}

void FlasherStore::applyFirmware(const std::filesystem::path& url) {
    assertMainThread();
    FirmwareImage image;
    try {
        image = FirmwareImage::load(url, true);
    } catch (...) {
        const std::string message = currentExceptionMessage();
        clearChosenFirmware();
        assign(firmwareDetail_, message);
        assign(lastError_, message);
        if (isBatchSession() && platform_.settings->string(batchFirmwarePathKey) == url.string()) {
            platform_.settings->remove(batchFirmwarePathKey);
        }
        return;
    }
    const auto displayed = VoyagerFirmwareChecksum::displayedValue(image.data);
    firmwareImage_ = image;
    assign(firmwareURL_, image.url);
    assign(expectedChecksumLabel_, VoyagerFirmwareChecksum::testMenuDisplay(displayed));
    assign(firmwareDetail_, image.url.filename().string() + " — " +
                                std::to_string(image.data.size()) +
                                " bytes, write at 0x04000, checksum " +
                                VoyagerFirmwareChecksum::formatted(displayed));
    editWizard([](WizardState& w) { w.firmwareOK = true; });
    assign(lastError_, std::nullopt);
    assign(firmwareAssessment_, FirmwareFileAssessment(displayed, backupAssessment_));
    if (isBatchSession()) {
        platform_.settings->setString(batchFirmwarePathKey, image.url.string());
    }
}

// ---- Flashing --------------------------------------------------------------------------------

void FlasherStore::flash() {
    assertMainThread();
    if (!canFlash()) {
        return;
    }
    assign(confirmFlash_, false);
    performFlash([weak = weakSelf()](std::exception_ptr error) {
        auto store = weak.lock();
        if (store && !error) {
            store->editWizard([](WizardState& w) { w.flashSucceeded = true; });
        }
    });
}

std::function<void(std::exception_ptr)>
FlasherStore::failureHandler(const SessionPost& report, OperationCompletion completion) {
    return [report, completion = std::move(completion)](std::exception_ptr error) {
        if (auto store = report.store.lock(); store && !report.ended()) {
            store->finishBusyFailure(error);
            if (completion) {
                completion(error);
            }
        }
    };
}

void FlasherStore::refuseOperation(std::exception_ptr error,
                                   const OperationCompletion& completion) {
    assign(successMessage_, std::nullopt);
    assign(progress_, std::nullopt);
    assign(progressCaption_, std::nullopt);
    assign(lastError_, messageOf(error));
    assign(status_, operationFailed);
    if (completion) {
        completion(error);
    }
}

void FlasherStore::performFlash(OperationCompletion completion) {
    assertMainThread();
    if (!firmwareImage_) {
        return;
    }
    const FirmwareImage image = *firmwareImage_;
    // What is written is what was judged and shown; a file that changed since would make the
    // shown checksum and file name describe other bytes.
    bool unchanged = false;
    try {
        unchanged = FirmwareImage::load(image.url, true).data == image.data;
    } catch (...) {
    }
    if (!unchanged) {
        refuseOperation(std::make_exception_ptr(std::runtime_error(firmwareChanged)), completion);
        return;
    }
    auto remembered = client_;
    beginBusy(writingFirmware, std::string("Flashing"));
    const SessionPost report = sessionPost();
    Flasher tool = flasher_;
    tool.fastTransfer = fastTransfer_;
    auto fail = failureHandler(report, completion);
    withPreparedClient(
        remembered, tool, report,
        [report, tool, image, completion, fail](const std::shared_ptr<SambaClient>& client) {
            try {
                tool.write(
                    image, FlashLayout::applicationStart, client, true,
                    [report](double fraction, FlashProgressPhase phase) {
                        report([fraction, phase](FlasherStore& store) {
                            store.applyFlashProgress(fraction, phase);
                        });
                    },
                    [report](const FlashPageWrite& page) {
                        report([header = page.header(),
                                lines = page.formattedWordLines(16)](FlasherStore& store) {
                            store.assign(store.flashPageHeader_, header);
                            store.assign(store.flashPageLines_, lines);
                        });
                    },
                    [report](const std::string&) {
                        report(
                            [](FlasherStore& store) { store.assign(store.flashFellBack_, true); });
                    });
                report([completion](FlasherStore& store) {
                    store.finishFlashSuccess();
                    if (completion) {
                        completion(nullptr);
                    }
                });
            } catch (...) {
                report.queue->post([fail, error = std::current_exception()] { fail(error); });
            }
        },
        fail);
}

void FlasherStore::finishFlashSuccess() {
    assertMainThread();
    editWizard([](WizardState& w) { w.isBusy = false; });
    assign(progress_, 1.0);
    assign(progressCaption_, "Verifying");
    assign(progressIsVerify_, true);
    assign(successMessage_, "Flashed and verified.");
    assign(status_, identity_ ? "Connected: " + identity_->name : std::string("Connected."));
}

} // namespace pelwick
