#include "device/FlasherError.h"
#include "store/FlasherStore.h"
#include "store/ResumeOnce.h"
#include "store/StoreInternals.h"

namespace pelwick {

using namespace StoreTexts;

namespace {

constexpr double monitoringPeriod = 1.0;
constexpr double passConnectTimeout = 1.5;
constexpr double watchdogSeconds = 2.5;
constexpr double pingTimeout = 1.5;
constexpr double demoConnectionDelay = 3.0;
constexpr double livenessTimeout = 2.0;
constexpr double reconnectPause = 2.0;
constexpr double reconnectTimeout = 3.0;

} // namespace

// ---- The monitoring loop ---------------------------------------------------------------------

void FlasherStore::schedulePollPass(double delay) {
    const std::uint64_t generation = pollGeneration_;
    pollTimer_ = platform_.mainQueue->postDelayed(delay, [weak = weakSelf(), generation] {
        if (auto store = weak.lock()) {
            store->runPollPass(generation);
        }
    });
}

void FlasherStore::runPollPass(std::uint64_t generation) {
    if (generation != pollGeneration_) {
        return;
    }
    pollTimer_ = 0;
    // The next pass starts one period after this one finished, however long it took.
    auto passDone = [weak = weakSelf(), generation] {
        auto store = weak.lock();
        if (store && generation == store->pollGeneration_) {
            store->schedulePollPass(monitoringPeriod);
        }
    };
    if (showWelcome_ || isPanelOpen_) {
        passDone();
    } else if (isProbeSession()) {
        refreshProbeConnection(passDone);
    } else if (isBatchSession()) {
        refreshBatchConnection([weak = weakSelf(), passDone] {
            if (auto store = weak.lock()) {
                store->runBatchStepIfReady();
            }
            passDone();
        });
    } else {
        refreshConnection(passDone);
    }
}

// ---- One DEMO/FLASH pass ---------------------------------------------------------------------

void FlasherStore::refreshConnection(std::function<void()> done) {
    assertMainThread();
    auto finish = [done] {
        if (done) {
            done();
        }
    };
    if (wizard_.isBusy || wizard_.step == WizardStep::cable) {
        finish();
        return;
    }
    // Another pass still waits for the device: two attempts must not compete for one port.
    if (deviceAttemptInFlight()) {
        finish();
        return;
    }
    checkCablesAndConnection(false, finish);
}

void FlasherStore::checkCablesAndConnection(bool forBatch, const std::function<void()>& finish) {
    // A dropped connection takes the chip's verdict with it, except in a batch, whose screen
    // shows units rather than the chip.
    const auto dropConnection = [forBatch](FlasherStore& store) {
        store.disconnect();
        if (!forBatch) {
            store.editWizard([](WizardState& w) { w.identitySupported = false; });
        }
    };
    const auto connect = [forBatch](FlasherStore& store, std::vector<SerialPort> cables,
                                    std::vector<SerialPort> modems, std::function<void()> done) {
        if (forBatch) {
            store.connectForBatchPass(std::move(cables), std::move(modems), std::move(done));
        } else {
            store.connectForPass(std::move(cables), std::move(modems), std::move(done));
        }
    };
    CableListing listing = listCables(flasher_);
    if (listing.cables.empty()) {
        if (client_) {
            dropConnection(*this);
        }
        assign(status_, waitingForCable);
        assign(portPath_, std::nullopt);
        finish();
        return;
    }
    if (!client_) {
        connect(*this, std::move(listing.cables), std::move(listing.modems), finish);
        return;
    }
    probePing(client_, [weak = weakSelf(), session = session_, pinged = client_, listing, finish,
                        dropConnection, connect](bool answered) {
        auto store = weak.lock();
        if (!store) {
            return;
        }
        // A batch unit that started meanwhile owns the connection now; a connection that was
        // dropped or replaced meanwhile is no longer this pass's business.
        if (answered || store->passIsStale(session) || store->batchUnitWorkTask_ ||
            store->client_ != pinged) {
            finish();
            return;
        }
        dropConnection(*store);
        connect(*store, listing.cables, listing.modems, finish);
    });
}

void FlasherStore::connectForPass(std::vector<SerialPort> cables, std::vector<SerialPort> modems,
                                  std::function<void()> done) {
    assign(portPath_, modems.empty() ? cables.front().path : modems.front().path);
    if (usingSimulator_) {
        const auto now = platform_.mainQueue->now();
        if (!demoConnectAfter_) {
            demoConnectAfter_ = now + std::chrono::duration_cast<MonotonicClock::duration>(
                                          std::chrono::duration<double>(demoConnectionDelay));
        }
        if (now < *demoConnectAfter_) {
            assign(status_, cableDetected);
            done();
            return;
        }
    }
    if (modems.empty()) {
        assign(status_, cableDetected);
        done();
        return;
    }
    if (!usingSimulator_) {
        assign(status_, waitingForSamba);
    }
    const std::string modemPath = modems.front().path;
    probeConnect([weak = weakSelf(), session = session_, modemPath, done](ConnectOutcome outcome) {
        auto store = weak.lock();
        if (!store) {
            return;
        }
        if (store->passIsStale(session)) {
            if (outcome.target) {
                store->closeClient(outcome.target->client);
            }
            done();
            return;
        }
        if (outcome.target) {
            store->adoptFoundTarget(*outcome.target);
        } else {
            store->disconnect();
            store->editWizard([](WizardState& w) { w.identitySupported = false; });
            store->assign(store->portPath_, modemPath);
            store->assign(store->status_, waitingForSambaHint);
        }
        done();
    });
}

// ---- Bounded attempts ------------------------------------------------------------------------

void FlasherStore::probeConnect(std::function<void(ConnectOutcome)> resume) {
    assertMainThread();
    ++deviceWaits_;
    auto queue = platform_.mainQueue;
    auto watchdog = std::make_shared<TimerId>(0);
    auto once = std::make_shared<ResumeOnce<ConnectOutcome>>(
        [queue, weak = weakSelf(), watchdog, resume](ConnectOutcome outcome) {
            queue->post([queue, weak, watchdog, resume, outcome] {
                queue->cancel(*watchdog);
                auto store = weak.lock();
                if (!store) {
                    if (outcome.target) {
                        outcome.target->client->close();
                    }
                    return;
                }
                --store->deviceWaits_;
                resume(outcome);
            });
        });
    platform_.background->run([tool = flasher_, lock = deviceLock_, once] {
        ConnectOutcome outcome;
        try {
            std::lock_guard<std::mutex> guard(*lock);
            outcome.target = tool.connect(passConnectTimeout);
        } catch (...) {
            outcome.error = std::current_exception();
        }
        const auto client = outcome.target ? outcome.target->client : nullptr;
        if (!once->finish(std::move(outcome)) && client) {
            // Too late: the watchdog already answered, so this connection belongs to nobody.
            std::lock_guard<std::mutex> guard(*lock);
            client->close();
        }
    });
    *watchdog = platform_.mainQueue->postDelayed(watchdogSeconds, [once] {
        once->finish(
            ConnectOutcome{std::nullopt, std::make_exception_ptr(FlasherError::sambaTimeout())});
    });
}

void FlasherStore::probePing(std::shared_ptr<SambaClient> client,
                             std::function<void(bool)> resume) {
    assertMainThread();
    ++deviceWaits_;
    auto queue = platform_.mainQueue;
    auto watchdog = std::make_shared<TimerId>(0);
    auto once = std::make_shared<ResumeOnce<bool>>(
        [queue, weak = weakSelf(), watchdog, resume](bool answered) {
            queue->post([queue, weak, watchdog, resume, answered] {
                queue->cancel(*watchdog);
                if (auto store = weak.lock()) {
                    --store->deviceWaits_;
                    resume(answered);
                }
            });
        });
    platform_.background->run([client, lock = deviceLock_, once] {
        bool answered = false;
        try {
            std::lock_guard<std::mutex> guard(*lock);
            client->readWord(SambaClient::pingAddress, pingTimeout);
            answered = true;
        } catch (...) {
        }
        once->finish(answered);
    });
    *watchdog = platform_.mainQueue->postDelayed(watchdogSeconds, [once] { once->finish(false); });
}

// ---- Taking over and dropping the connection -------------------------------------------------

void FlasherStore::adopt(const ConnectedTarget& target) {
    assertMainThread();
    if (client_ && client_ != target.client) {
        closeClient(client_);
    }
    client_ = target.client;
    assign(identity_, target.identity);
    assign(portPath_, target.port.path);
    assign(sambaVersion_, target.client->version());
    const bool supported = target.identity.isSupported15C();
    editWizard([supported](WizardState& w) { w.identitySupported = supported; });
}

bool FlasherStore::adoptFoundTarget(const ConnectedTarget& target) {
    const DeviceIdentity identity = target.identity;
    adopt(target);
    assign(status_, connectedStatus(identity));
    if (identity.isSupported15C()) {
        // Only the unsupported-chip message goes with the chip; a failure stays on screen until
        // the user acts on it, and in a batch the unsupported chip is the reason for the error
        // phase, which lasts until the operator retries.
        if (passError_ && lastError_ == passError_ && !isBatchSession()) {
            assign(lastError_, std::nullopt);
        }
        passError_.reset();
        return true;
    }
    passError_ = FlasherError::unsupportedDevice(identity.name, identity.cidr, identity.exid)
                     .errorDescription();
    assign(lastError_, passError_);
    return false;
}

void FlasherStore::disconnect() {
    assertMainThread();
    if (client_) {
        closeClient(client_);
        client_.reset();
    }
    assign(identity_, std::nullopt);
    assign(portPath_, std::nullopt);
    assign(sambaVersion_, std::nullopt);
}

void FlasherStore::closeClient(const std::shared_ptr<SambaClient>& client) {
    if (deviceLock_->try_lock()) {
        client->close();
        deviceLock_->unlock();
        return;
    }
    // Device work is using it right now: close it as soon as that work lets go.
    platform_.background->run([client, lock = deviceLock_] {
        std::lock_guard<std::mutex> guard(*lock);
        client->close();
    });
}

// ---- Reconnection before an operation --------------------------------------------------------

void FlasherStore::withPreparedClient(std::shared_ptr<SambaClient> existing, const Flasher& tool,
                                      const SessionPost& report, ClientWork work, Failure fail) {
    if (!existing) {
        connectAdoptAndRun(tool, report, std::move(work), std::move(fail));
        return;
    }
    platform_.background->run([existing, tool, report, work, fail, lock = deviceLock_] {
        {
            std::lock_guard<std::mutex> guard(*lock);
            if (report.ended()) {
                return;
            }
            bool alive = false;
            try {
                existing->readWord(SambaClient::pingAddress, livenessTimeout);
                alive = true;
            } catch (...) {
                // The failed read itself is never reported; a reconnect follows.
            }
            if (alive) {
                if (!report.ended()) {
                    work(existing);
                }
                return;
            }
        }
        report([tool, report, work, fail](FlasherStore& store) {
            store.assign(store.status_, reconnecting);
            store.disconnect();
            store.platform_.mainQueue->postDelayed(reconnectPause, [tool, report, work, fail] {
                // No reconnection once the session has ended.
                if (auto later = report.store.lock(); later && !report.ended()) {
                    later->connectAdoptAndRun(tool, report, work, fail);
                }
            });
        });
    });
}

void FlasherStore::connectAdoptAndRun(const Flasher& tool, const SessionPost& report,
                                      ClientWork work, Failure fail) {
    platform_.background->run([tool, report, work, fail, lock = deviceLock_] {
        std::optional<ConnectedTarget> target;
        std::exception_ptr error;
        try {
            std::lock_guard<std::mutex> guard(*lock);
            if (report.ended()) {
                return;
            }
            target = tool.connect(reconnectTimeout);
        } catch (const FlasherError& failure) {
            error =
                failure.kind() == FlasherError::Case::sambaTimeout
                    ? std::make_exception_ptr(FlasherError::timedOutWhile("reconnecting to SAM-BA"))
                    : std::current_exception();
        } catch (...) {
            error = std::current_exception();
        }
        report.queue->post([report, target, error, work, fail, lock] {
            auto store = report.store.lock();
            if (!store || report.ended()) {
                // Nobody takes the connection over: it is closed here.
                if (target) {
                    target->client->close();
                }
                return;
            }
            if (error) {
                fail(error);
                return;
            }
            store->adopt(*target);
            store->platform_.background->run([client = target->client, report, work, lock] {
                std::lock_guard<std::mutex> guard(*lock);
                if (!report.ended()) {
                    work(client);
                }
            });
        });
    });
}

} // namespace pelwick
