#pragma once

#include "BatchSummary.h"
#include "CommandLine.h"
#include "device/SerialPort.h"
#include "flash/FlashLayout.h"
#include "samba/TransferPace.h"

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace pelwick {

class DeviceSession;
class SimulatedCalculatorTransport;
class TraceLog;

/// The production line: watches the ports the global options describe and flashes (after an
/// optional backup) and verifies every calculator that appears in programming mode. Each new port
/// becomes the next unit; a port stays handled until it leaves the listing, so a calculator that
/// stays attached is never touched twice. Units run one after another, or with `parallel` each
/// on its own thread and connection at once. A line per finished unit goes to `out` (text, or a
/// JSON object); notices go to `err`.
class BatchRun {
public:
    struct Settings {
        /// The image every unit gets, loaded once before the batch starts.
        FirmwareImage firmware;
        /// Where each unit's firmware is saved before it is flashed; none: no backups.
        std::optional<std::filesystem::path> backupFolder;
        /// Names the backups with the unit numbers (BatchBackupNaming).
        std::string sessionStamp;
        bool parallel = false;
        /// End once this many units are finished.
        std::optional<int> unitLimit;
        /// Seconds between two looks at the port listing.
        double pollInterval = 0.5;
        /// Each finished unit as a JSON object on one line (BatchUnitReport::json), not as text.
        bool json = false;
        /// No notice of each unit that starts or falls back to the standard pace.
        bool quiet = false;
        /// Traces each unit's conversation, its lines marked with the unit's number ("#3").
        std::shared_ptr<TraceLog> trace;
    };

    BatchRun(GlobalOptions global, Settings settings, std::ostream& out, std::ostream& err);
    /// Waits for any unit still running.
    ~BatchRun();

    BatchRun(const BatchRun&) = delete;
    BatchRun& operator=(const BatchRun&) = delete;

    /// Runs until the unit limit is reached or a stop is requested, then waits for the units in
    /// progress and returns what became of every unit. Fails, before any unit starts, when the
    /// ports cannot be listed at all; a listing that fails later ends the batch like a stop.
    /// `watching` is called once the ports could be listed, before the first unit starts.
    BatchSummary run(const std::function<void()>& watching = {});

    /// No new unit starts; the units in progress are finished, never cut off in the middle of a
    /// flash. Safe from any thread; says on `err` what is still being waited for.
    void requestStop();

private:
    struct Unit {
        std::string port;
        bool finished = false;
        std::thread worker;
    };

    std::vector<SerialPort> attachedPorts() const;
    std::unique_ptr<DeviceSession> openSession(int number, const SerialPort& port) const;
    BatchUnitReport flashUnit(int number, const SerialPort& port,
                              const TransferPace::FallbackHandler& onPaceFallback) const;
    void startUnit(int number, const SerialPort& port);
    // Joins the units that are done; the lock is held.
    void reapFinished();
    int unitsInProgress() const;

    GlobalOptions global_;
    Settings settings_;
    std::ostream& out_;
    std::ostream& err_;
    std::shared_ptr<const SerialPortListing> ports_;
    std::shared_ptr<SimulatedCalculatorTransport> simulator_;

    std::mutex mutex_;
    std::condition_variable changed_;
    bool stopRequested_ = false;
    int stopRequests_ = 0;
    std::list<Unit> units_;
    std::vector<BatchUnitReport> reports_;
};

} // namespace pelwick
