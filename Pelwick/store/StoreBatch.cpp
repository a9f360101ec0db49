#include "device/FlasherError.h"
#include "firmware/BatchBackupNaming.h"
#include "store/FlasherStore.h"
#include "store/StoreInternals.h"
#include "util/FileIO.h"

#include <ctime>
#include <stdexcept>
#include <system_error>

namespace pelwick {

using namespace StoreTexts;

/// The running unit of a batch, known by its identity. It is current while `batchUnitWorkTask_`
/// holds it; ending the session drops it, and its next step then changes nothing.
struct FlasherStore::UnitTask {};

std::string FlasherStore::formattedSessionStamp() const {
    const std::time_t time = std::chrono::system_clock::to_time_t(platform_.wallClock());
    std::tm local{};
    localtime_r(&time, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// ---- Session -------------------------------------------------------------------------------

void FlasherStore::beginBatchSession() {
    assertMainThread();
    endSession();
    resetBatchSession();
    assign(showWelcome_, false);
    setUsingSimulator(false);
    restoreBatchFirmware();
}

void FlasherStore::resetBatchSession() {
    assertMainThread();
    assign(batchPhase_, BatchPhase::setup);
    assign(batchUnitNumber_, 0);
    assign(batchBackupChoice_, BatchBackupChoice::skip);
    assign(batchBackupFolder_, std::nullopt);
    batchSessionStamp_.reset();
    assign(wizard_, WizardState{});
    clearChosenFirmware();
    clearSessionResults();
    disconnect();
}

void FlasherStore::restoreBatchFirmware() {
    assertMainThread();
    const auto stored = platform_.settings->string(batchFirmwarePathKey);
    std::error_code error;
    if (stored && !stored->empty() && std::filesystem::exists(*stored, error)) {
        applyFirmware(*stored);
    } else if (stored) {
        platform_.settings->remove(batchFirmwarePathKey);
    }
}

void FlasherStore::chooseBatchBackupFolder() {
    assertMainThread();
    std::optional<std::filesystem::path> folder;
    {
        PanelOpen panel(isPanelOpen_);
        folder = platform_.dialogs->chooseFolder(
            "Choose backup folder",
            "Each unit’s backup is saved here as hp15c-YYYYMMDD-HHMMSS-NNN.bin.");
    }
    if (folder) {
        assign(batchBackupFolder_, *folder);
    }
}

bool FlasherStore::canStartBatch() const {
    return wizard_.firmwareOK &&
           (batchBackupChoice_ == BatchBackupChoice::skip || batchBackupFolder_.has_value());
}

void FlasherStore::startBatch() {
    assertMainThread();
    if (!canStartBatch()) {
        return;
    }
    batchSessionStamp_ = formattedSessionStamp();
    assign(batchUnitNumber_, 1);
    assign(batchPhase_, BatchPhase::waiting);
    assign(lastError_, std::nullopt);
    assign(successMessage_, std::nullopt);
    assign(status_, waitingForSambaHint);
    disconnect();
}

void FlasherStore::prepareBatchUnit(bool nextNumber) {
    assertMainThread();
    // A unit still at work keeps its number and its connection.
    if (batchUnitWorkTask_ || wizard_.isBusy) {
        return;
    }
    if (nextNumber) {
        assign(batchUnitNumber_, batchUnitNumber_ + 1);
    }
    assign(batchPhase_, BatchPhase::waiting);
    assign(lastError_, std::nullopt);
    assign(successMessage_, std::nullopt);
    assign(status_, waitingForSambaHint);
    disconnect();
}

void FlasherStore::prepareNextBatchUnit() {
    prepareBatchUnit(true);
}

void FlasherStore::retryBatchUnit() {
    prepareBatchUnit(false);
}

void FlasherStore::stopBatch() {
    assertMainThread();
    endSession();
    editWizard([](WizardState& w) { w.isBusy = false; });
    assign(progress_, std::nullopt);
    assign(progressCaption_, std::nullopt);
    assign(flashPageHeader_, std::nullopt);
    assign(flashPageLines_, std::vector<std::string>{});
    disconnect();
    // The application is going away: no pass may find a calculator and start a unit meanwhile.
    stopMonitoring();
    platform_.app->quit();
}

// ---- The batch monitoring pass ---------------------------------------------------------------

void FlasherStore::refreshBatchConnection(std::function<void()> done) {
    assertMainThread();
    auto finish = [done] {
        if (done) {
            done();
        }
    };
    if (batchPhase_ == BatchPhase::setup && !wizard_.isBusy) {
        showBatchSetupCable();
        finish();
        return;
    }
    if ((batchPhase_ != BatchPhase::waiting && batchPhase_ != BatchPhase::error) ||
        wizard_.isBusy || batchUnitWorkTask_ || deviceAttemptInFlight()) {
        finish();
        return;
    }
    checkCablesAndConnection(true, finish);
}

void FlasherStore::showBatchSetupCable() {
    // The setup connects to nothing, but shows whether a programming cable is plugged in.
    const CableListing listing = listCables(flasher_);
    if (listing.cables.empty()) {
        assign(portPath_, std::nullopt);
        assign(status_, waitingForCable);
        return;
    }
    assign(portPath_,
           listing.modems.empty() ? listing.cables.front().path : listing.modems.front().path);
    assign(status_, cableDetected);
}

void FlasherStore::connectForBatchPass(std::vector<SerialPort> cables,
                                       std::vector<SerialPort> modems, std::function<void()> done) {
    assign(portPath_, modems.empty() ? cables.front().path : modems.front().path);
    if (modems.empty()) {
        assign(status_, cableDetected);
        done();
        return;
    }
    assign(status_, waitingForSamba);
    const std::string modemPath = modems.front().path;
    probeConnect([weak = weakSelf(), session = session_, modemPath, done](ConnectOutcome outcome) {
        auto store = weak.lock();
        if (!store) {
            return;
        }
        if (store->passIsStale(session) || store->batchUnitWorkTask_) {
            if (outcome.target) {
                store->closeClient(outcome.target->client);
            }
            done();
            return;
        }
        if (outcome.target) {
            if (!store->adoptFoundTarget(*outcome.target)) {
                store->assign(store->batchPhase_, BatchPhase::error);
            }
        } else {
            store->disconnect();
            store->assign(store->portPath_, modemPath);
            store->assign(store->status_, waitingForSambaHint);
        }
        done();
    });
}

void FlasherStore::runBatchStepIfReady() {
    assertMainThread();
    if (batchPhase_ == BatchPhase::waiting && !batchUnitWorkTask_ && !wizard_.isBusy && client_ &&
        identity_ && identity_->isSupported15C()) {
        startBatchUnitWork();
    }
}

// ---- The unit task ---------------------------------------------------------------------------

void FlasherStore::startBatchUnitWork() {
    assertMainThread();
    if (batchPhase_ != BatchPhase::waiting || batchUnitWorkTask_ || wizard_.isBusy ||
        !firmwareImage_) {
        return;
    }
    auto task = std::make_shared<UnitTask>();
    batchUnitWorkTask_ = task;
    sessionPost()([task](FlasherStore& store) {
        if (store.isCurrentUnit(task)) {
            store.runBatchUnit(task);
        }
    });
}

void FlasherStore::runBatchUnit(const std::shared_ptr<UnitTask>& task) {
    if (batchBackupChoice_ != BatchBackupChoice::autoSave || !batchBackupFolder_ ||
        !batchSessionStamp_) {
        batchUnitFlashStep(task);
        return;
    }
    assign(batchPhase_, BatchPhase::backingUp);
    assign(lastError_, std::nullopt);
    assign(backupFileName_, std::nullopt);
    const auto location =
        BatchBackupNaming::fileURL(*batchBackupFolder_, *batchSessionStamp_, batchUnitNumber_);
    performBackup(location, [weak = weakSelf(), task](std::exception_ptr error) {
        auto store = weak.lock();
        if (!store || !store->isCurrentUnit(task)) {
            return;
        }
        if (error) {
            store->finishBatchUnit(task, error);
            return;
        }
        store->batchUnitFlashStep(task);
    });
}

void FlasherStore::batchUnitFlashStep(const std::shared_ptr<UnitTask>& task) {
    if (!firmwareImage_) {
        // The firmware was cleared while the backup ran: nothing would be flashed and the unit
        // would wait for ever, so it ends here and the operator can choose the file and retry.
        finishBatchUnit(task, std::make_exception_ptr(std::runtime_error(
                                  "No firmware is chosen. Choose the firmware file, then retry "
                                  "this unit.")));
        return;
    }
    assign(batchPhase_, BatchPhase::flashing);
    assign(lastError_, std::nullopt);
    performFlash([weak = weakSelf(), task](std::exception_ptr error) {
        auto store = weak.lock();
        if (store && store->isCurrentUnit(task)) {
            store->finishBatchUnit(task, error);
        }
    });
}

void FlasherStore::finishBatchUnit(const std::shared_ptr<UnitTask>& task,
                                   std::exception_ptr error) {
    if (error) {
        assign(batchPhase_, BatchPhase::error);
        assign(lastError_, messageOf(error));
    } else {
        const std::string number = std::to_string(batchUnitNumber_);
        assign(batchPhase_, BatchPhase::unitDone);
        assign(successMessage_, "Unit " + number + " flashed and verified.");
        assign(status_, "Unit " + number + " complete.");
        disconnect();
    }
    if (batchUnitWorkTask_ == task) {
        batchUnitWorkTask_.reset();
    }
}

// ---- Backing up to a file --------------------------------------------------------------------

void FlasherStore::performBackup(const std::filesystem::path& location,
                                 OperationCompletion completion) {
    assertMainThread();
    auto remembered = client_;
    beginBusy(readingFirmware, std::string("Backing up"));
    const SessionPost report = sessionPost();
    const Flasher tool = flasher_;
    auto fail = failureHandler(report, completion);
    withPreparedClient(
        remembered, tool, report,
        [report, tool, location, completion, fail](const std::shared_ptr<SambaClient>& client) {
            try {
                const Bytes data =
                    tool.readApplication(client, [report](double fraction, FlashProgressPhase) {
                        report([fraction](FlasherStore& store) {
                            store.assign(store.progress_, fraction);
                            store.assign(store.progressCaption_, "Backing up");
                            store.assign(store.progressIsVerify_, false);
                        });
                    });
                // A new file, never one that is there already (a retried unit, or another
                // Pelwick saving into the same folder): that one may hold the unit's only copy.
                const std::string written =
                    writeNewFileAtomically(location, data).filename().string();
                report([completion, written](FlasherStore& store) {
                    store.finishBusySuccess("Backup saved.");
                    store.assign(store.backupFileName_, written);
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

} // namespace pelwick
