#include "device/FlasherError.h"
#include "store/FlasherStore.h"
#include "store/StoreInternals.h"

namespace pelwick {

using namespace StoreTexts;

// ---- The simulator switch ----------------------------------------------------------------------

void FlasherStore::setUsingSimulator(bool on) {
    assertMainThread();
    // The other device's work belongs to the session that ends here.
    endSession();
    disconnect();
    editWizard([](WizardState& w) { w.identitySupported = false; });
    demoConnectAfter_.reset();
    assign(usingSimulator_, on);
    if (selectedMode_ != FlasherMode::batch && selectedMode_ != FlasherMode::probe) {
        assign(selectedMode_, on ? FlasherMode::demo : FlasherMode::flash);
        platform_.settings->setString(flasherModeKey, rawValue(selectedMode_));
    }
    if (on) {
        simulator_ = platform_.makeSimulator();
        flasher_ = platform_.makeDemoFlasher(simulator_);
        assign(status_, "DEMO: connecting simulated calculator…");
        sessionPost()([](FlasherStore& store) { store.refreshConnection(); });
    } else {
        simulator_.reset();
        flasher_ = realCableFlasher();
        assign(status_, waitingForCable);
    }
}

// ---- One probe pass ----------------------------------------------------------------------------

void FlasherStore::refreshProbeConnection(std::function<void()> done) {
    assertMainThread();
    auto finish = [done] {
        if (done) {
            done();
        }
    };
    if (!isProbeSession() || wizard_.isBusy || deviceAttemptInFlight()) {
        finish();
        return;
    }
    const CableListing listing = listCables(flasher_);
    const bool wasSupported = identity_ && identity_->isSupported15C();
    auto dropClient = [this] {
        if (client_) {
            closeClient(client_);
            client_.reset();
        }
    };
    // Every status below is assigned only when it differs, so a steady result notifies nobody.
    if (listing.cables.empty()) {
        dropClient();
        assign(identity_, std::nullopt);
        assign(portPath_, std::nullopt);
        assign(sambaVersion_, std::nullopt);
        assign(lastError_, std::nullopt);
        assign(status_, "No programming cable detected");
        finish();
        return;
    }
    if (listing.modems.empty()) {
        dropClient();
        assign(identity_, std::nullopt);
        assign(sambaVersion_, std::nullopt);
        assign(lastError_, std::nullopt);
        assign(portPath_, listing.cables.front().path);
        assign(status_, cableDetected);
        finish();
        return;
    }
    const std::string modemPath = listing.modems.front().path;
    assign(portPath_, modemPath);
    probeConnect([weak = weakSelf(), session = session_, modemPath, wasSupported,
                  finish](ConnectOutcome outcome) {
        auto store = weak.lock();
        if (!store) {
            return;
        }
        if (store->passIsStale(session) || !store->isProbeSession()) {
            if (outcome.target) {
                store->closeClient(outcome.target->client);
            }
            finish();
            return;
        }
        auto& self = *store;
        if (self.client_) {
            self.closeClient(self.client_);
            self.client_.reset();
        }
        if (outcome.target) {
            const DeviceIdentity identity = outcome.target->identity;
            const bool changed = !self.identity_ || self.identity_->cidr != identity.cidr ||
                                 self.identity_->exid != identity.exid;
            self.assign(self.identity_, identity);
            self.assign(self.portPath_, outcome.target->port.path);
            self.assign(self.sambaVersion_, outcome.target->client->version());
            if (identity.isSupported15C()) {
                if (changed || !wasSupported) {
                    self.assign(self.status_, connectedStatus(identity));
                    self.assign(self.lastError_, std::nullopt);
                }
            } else {
                self.assign(self.status_, connectedStatus(identity));
                self.assign(self.lastError_, FlasherError::unsupportedDevice(
                                                 identity.name, identity.cidr, identity.exid)
                                                 .errorDescription());
            }
            // The probe keeps no connection.
            self.closeClient(outcome.target->client);
        } else {
            self.assign(self.identity_, std::nullopt);
            self.assign(self.sambaVersion_, std::nullopt);
            self.assign(self.lastError_, std::nullopt);
            self.assign(self.portPath_, modemPath);
            // The cable hint may stay; any other text ("Waiting for programming cable…"
            // above all) would contradict the port shown beside it.
            if (wasSupported || self.status_ != cableDetected) {
                self.assign(self.status_, waitingForSambaHint);
            }
        }
        finish();
    });
}

std::optional<std::string> FlasherStore::probePortName() const {
    if (!portPath_) {
        return std::nullopt;
    }
    // Linux names the monitor's port ttyACM*, macOS cu.usbmodem*; both are modem ports.
    const SerialPort port{*portPath_};
    if (port.isModemPort()) {
        return port.name();
    }
    return std::nullopt;
}

// ---- The demo shortcut -------------------------------------------------------------------------

void FlasherStore::installSimulatorHotKey() {
    assertMainThread();
    simulatorHotKeyMonitor_ = true;
}

void FlasherStore::removeSimulatorHotKey() {
    assertMainThread();
    simulatorHotKeyMonitor_ = false;
}

bool FlasherStore::handleSimulatorShortcut() {
    assertMainThread();
    if (!simulatorHotKeyMonitor_) {
        return false;
    }
    platform_.mainQueue->post([weak = weakSelf()] {
        auto store = weak.lock();
        if (!store) {
            return;
        }
        if (store->showWelcome_) {
            store->cycleWelcomeMode();
        } else if (!store->isBatchSession() && !store->isProbeSession() && !store->wizard_.isBusy &&
                   !store->batchUnitWorkTask_) {
            // Never in the middle of device work: that work belongs to the device it started on.
            store->setUsingSimulator(!store->usingSimulator_);
        }
    });
    return true;
}

} // namespace pelwick
