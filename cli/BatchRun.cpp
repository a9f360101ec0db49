#include "BatchRun.h"

#include "CommandError.h"
#include "DeviceSession.h"
#include "NamedPort.h"
#include "TraceLog.h"
#include "firmware/BatchBackupNaming.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "util/Clock.h"
#include "util/FileIO.h"

#include <algorithm>
#include <ostream>
#include <set>

namespace pelwick {

namespace {

/// The one port the user named, listed while its device node exists.
class NamedPortListing : public SerialPortListing {
public:
    explicit NamedPortListing(std::string path) : path_(std::move(path)) {}

    std::vector<SerialPort> listPorts() const override {
        std::error_code error;
        if (!std::filesystem::exists(std::filesystem::symlink_status(path_, error))) {
            return {};
        }
        return {SerialPort{path_}};
    }

private:
    std::string path_;
};

std::shared_ptr<const SerialPortListing> listingFor(const GlobalOptions& global) {
    if (global.demo) {
        return std::make_shared<SimulatedPortListing>();
    }
    if (global.port) {
        return std::make_shared<NamedPortListing>(*global.port);
    }
    return std::make_shared<DeviceSerialPortListing>(global.deviceDirectory);
}

std::set<std::string> pathsOf(const std::vector<SerialPort>& ports) {
    std::set<std::string> paths;
    for (const SerialPort& port : ports) {
        paths.insert(port.path);
    }
    return paths;
}

std::string unitsText(int count) {
    return count == 1 ? "the unit in progress"
                      : "the " + std::to_string(count) + " units in progress";
}

} // namespace

BatchRun::BatchRun(GlobalOptions global, Settings settings, std::ostream& out, std::ostream& err)
    : global_(std::move(global)), settings_(std::move(settings)), out_(out), err_(err),
      ports_(listingFor(global_)) {
    if (global_.demo) {
        // One in-process calculator that answers at once, as for the other commands' --demo.
        simulator_ = std::make_shared<SimulatedCalculatorTransport>(0.0, true);
    }
}

BatchRun::~BatchRun() {
    std::unique_lock lock(mutex_);
    stopRequested_ = true;
    for (Unit& unit : units_) {
        changed_.wait(lock, [&] { return unit.finished; });
    }
    reapFinished();
}

std::vector<SerialPort> BatchRun::attachedPorts() const {
    std::vector<SerialPort> ports = ports_->listPorts();
    if (global_.port && !global_.demo) {
        // The port the user named, whatever its name, while it is there as a terminal.
        std::erase_if(ports, [](const SerialPort& port) { return !couldBeACable(port.path); });
        return ports;
    }
    // Only the ports a connection would try: modem ports, and while the monitor is listed by its
    // USB id, only such ports, so that no other device is disturbed.
    return connectionCandidates(ports);
}

std::unique_ptr<DeviceSession> BatchRun::openSession(int number, const SerialPort& port) const {
    SambaClient::Trace trace;
    if (settings_.trace) {
        trace = settings_.trace->tracing('#' + std::to_string(number));
    }
    if (simulator_) {
        return std::make_unique<DeviceSession>(simulator_, global_, std::move(trace));
    }
    GlobalOptions onePort = global_;
    onePort.port = port.path;
    return std::make_unique<DeviceSession>(onePort, std::move(trace));
}

BatchUnitReport BatchRun::flashUnit(int number, const SerialPort& port,
                                    const TransferPace::FallbackHandler& onPaceFallback) const {
    BatchUnitReport report;
    report.number = number;
    report.port = port.path;
    const auto started = MonotonicClock::now();
    try {
        const std::unique_ptr<DeviceSession> session = openSession(number, port);
        const ConnectedTarget& target = session->connect();
        report.chip = target.identity.name;
        session->connectSupported();
        const Flasher& flasher = session->flasher();
        if (settings_.backupFolder) {
            // A name already taken (another batch sharing the folder) gets a number: an earlier
            // unit's backup is never replaced.
            const std::filesystem::path file = writeNewFileAtomically(
                BatchBackupNaming::fileURL(*settings_.backupFolder, settings_.sessionStamp, number),
                flasher.readApplication(target.client));
            report.backupFile = file.filename().string();
        }
        report.flashResult = "incomplete";
        flasher.write(
            settings_.firmware, FlashLayout::applicationStart, target.client, true,
            [&report](double, FlashProgressPhase phase) {
                if (phase == FlashProgressPhase::verifying) {
                    report.flashResult = "unverified";
                }
            },
            {},
            [&report, &onPaceFallback](const std::string& notice) {
                report.fellBack = true;
                onPaceFallback(notice);
            });
        session->close();
        report.succeeded = true;
        report.flashResult = "flashed";
        report.result = "Flashed and verified.";
    } catch (...) {
        const ErrorDescription error = currentError();
        report.result = error.message;
        report.errorKind = error.kind;
        // A verify that found a difference leaves the calculator as a write cut short does.
        if (error.kind == "verifyMismatch") {
            report.flashResult = "incomplete";
        }
    }
    report.seconds = std::chrono::duration<double>(MonotonicClock::now() - started).count();
    return report;
}

void BatchRun::startUnit(int number, const SerialPort& port) {
    Unit& unit = units_.emplace_back();
    unit.port = port.path;
    if (!settings_.quiet) {
        err_ << '#' << number << "  " << port.path << "  "
             << (settings_.backupFolder ? "backing up, then flashing…" : "flashing…") << '\n'
             << std::flush;
    }
    try {
        unit.worker = std::thread([this, &unit, number, port] {
            BatchUnitReport report =
                flashUnit(number, port, [this, number](const std::string& notice) {
                    // Told like the unit's other news: after its number, not with --quiet.
                    if (settings_.trace) {
                        settings_.trace->line('#' + std::to_string(number), notice);
                    }
                    if (!settings_.quiet) {
                        const std::lock_guard lock(mutex_);
                        err_ << ('#' + std::to_string(number) + "  " + notice + '\n') << std::flush;
                    }
                });
            const std::lock_guard lock(mutex_);
            out_ << (settings_.json ? JsonReport::text(report.json(settings_.backupFolder))
                                    : report.line())
                 << '\n'
                 << std::flush;
            reports_.push_back(std::move(report));
            unit.finished = true;
            changed_.notify_all();
        });
    } catch (...) {
        units_.pop_back();
        throw;
    }
}

void BatchRun::reapFinished() {
    for (auto unit = units_.begin(); unit != units_.end();) {
        if (unit->finished) {
            unit->worker.join();
            unit = units_.erase(unit);
        } else {
            ++unit;
        }
    }
}

int BatchRun::unitsInProgress() const {
    return static_cast<int>(std::count_if(units_.begin(), units_.end(),
                                          [](const Unit& unit) { return !unit.finished; }));
}

void BatchRun::requestStop() {
    const std::lock_guard lock(mutex_);
    stopRequested_ = true;
    ++stopRequests_;
    if (const int running = unitsInProgress(); running > 0) {
        err_ << (stopRequests_ == 1 ? "Stopping: finishing " + unitsText(running) + " first…"
                                    : "Still finishing " + unitsText(running) +
                                          "; a flash is never cut off halfway.")
             << '\n'
             << std::flush;
    }
    changed_.notify_all();
}

BatchSummary BatchRun::run(const std::function<void()>& watching) {
    const auto started = MonotonicClock::now();
    // A folder that cannot be listed fails here, before anything is touched.
    std::vector<SerialPort> attached = attachedPorts();
    // A port is taken once two looks in a row have listed it (the ports already there at the
    // first look excepted): a device node that has just appeared may not be open to us yet while
    // the system is still setting its permissions.
    std::set<std::string> listedBefore = pathsOf(attached);
    if (watching) {
        watching();
    }
    std::optional<std::string> listingError;
    std::set<std::string> handled;
    int assigned = 0;
    const auto anyFinished = [this] {
        return std::any_of(units_.begin(), units_.end(),
                           [](const Unit& unit) { return unit.finished; });
    };
    const auto limitReached = [&] {
        return settings_.unitLimit && assigned >= *settings_.unitLimit;
    };

    std::unique_lock lock(mutex_);
    for (;;) {
        reapFinished();
        if (stopRequested_ || limitReached()) {
            if (units_.empty()) {
                break;
            }
            changed_.wait(lock, anyFinished);
            continue;
        }
        // A port that left the listing is free again: a calculator plugged in there later is a
        // new unit. A port whose unit still runs stays taken, whatever the listing says.
        std::erase_if(handled, [&](const std::string& path) {
            const bool listed =
                std::any_of(attached.begin(), attached.end(),
                            [&](const SerialPort& port) { return port.path == path; });
            const bool busy = std::any_of(units_.begin(), units_.end(),
                                          [&](const Unit& unit) { return unit.port == path; });
            return !listed && !busy;
        });
        for (const SerialPort& port : attached) {
            if (limitReached() || (!settings_.parallel && !units_.empty())) {
                break;
            }
            if (listedBefore.contains(port.path) && handled.insert(port.path).second) {
                startUnit(++assigned, port);
            }
        }
        changed_.wait_for(lock, std::chrono::duration<double>(settings_.pollInterval),
                          [&] { return stopRequested_ || anyFinished(); });
        lock.unlock();
        try {
            std::vector<SerialPort> listed = attachedPorts();
            listedBefore = pathsOf(attached);
            attached = std::move(listed);
        } catch (...) {
            listingError = currentExceptionMessage();
        }
        lock.lock();
        if (listingError && !stopRequested_) {
            err_ << *listingError << " No new unit is started.\n" << std::flush;
            stopRequested_ = true;
        }
    }

    BatchSummary summary;
    summary.units = reports_;
    std::sort(
        summary.units.begin(), summary.units.end(),
        [](const BatchUnitReport& a, const BatchUnitReport& b) { return a.number < b.number; });
    summary.seconds = std::chrono::duration<double>(MonotonicClock::now() - started).count();
    summary.listingError = listingError;
    return summary;
}

} // namespace pelwick
