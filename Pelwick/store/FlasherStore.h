#pragma once

#include "firmware/FirmwareAssessment.h"
#include "flash/DeviceIdentity.h"
#include "flasher/Flasher.h"
#include "samba/SambaClient.h"
#include "sim/SimulatedCalculatorTransport.h"
#include "store/BatchPhase.h"
#include "store/FlasherMode.h"
#include "store/Platform.h"
#include "store/WorkSession.h"
#include "util/Bytes.h"
#include "util/Clock.h"
#include "wizard/WizardState.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace pelwick {

/// The result of a bounded connection attempt: a target (whose connection the receiver owns) or
/// the error.
struct ConnectOutcome {
    std::optional<ConnectedTarget> target;
    std::exception_ptr error;
};

/// Called once when an operation ends: null on success, the error otherwise.
using OperationCompletion = std::function<void(std::exception_ptr error)>;

/// The application's session controller: everything the screens show is one of its fields, and
/// every button calls one of its operations. It keeps the wizard, the connection to the
/// calculator, the firmware verdicts, the session mode and the batch bookkeeping.
///
/// All fields are read and written on the main queue's thread only; every operation must be
/// called there (the store checks it and aborts otherwise). Device work runs on the background
/// runner and comes back through the main queue. Create it with `create` (tasks hold it weakly).
///
/// Change notification: `onChange` is called on the main thread right after each published field
/// (`wizard` … `batchBackupFolder`) takes a different value; assigning an equal value notifies
/// nobody. Several notifications may come in one main-thread turn; the observer re-reads the
/// fields it shows.
class FlasherStore : public std::enable_shared_from_this<FlasherStore> {
public:
    /// Settings keys.
    static constexpr const char* flasherModeKey = "flasherMode";
    static constexpr const char* demoModeCompletedKey = "demoModeCompleted";
    static constexpr const char* batchFirmwarePathKey = "batchFirmwarePath";
    static constexpr const char* fastTransferKey = "fastTransfer";

    /// Reads "flasherMode" and "demoModeCompleted"; starts nothing.
    explicit FlasherStore(StorePlatform platform);
    ~FlasherStore();
    FlasherStore(const FlasherStore&) = delete;
    FlasherStore& operator=(const FlasherStore&) = delete;

    static std::shared_ptr<FlasherStore> create(StorePlatform platform);

    void setOnChange(std::function<void()> onChange);

    // ---- Published fields ---------------------------------------------------------------------
    const WizardState& wizard() const { return wizard_; }
    const std::string& status() const { return status_; }
    const std::optional<std::string>& portPath() const { return portPath_; }
    const std::optional<DeviceIdentity>& identity() const { return identity_; }
    const std::optional<std::string>& sambaVersion() const { return sambaVersion_; }
    const std::optional<std::filesystem::path>& firmwareURL() const { return firmwareURL_; }
    const std::string& firmwareDetail() const { return firmwareDetail_; }
    const std::string& expectedChecksumLabel() const { return expectedChecksumLabel_; }
    bool backupSkipped() const { return backupSkipped_; }
    const std::optional<std::string>& backupFileName() const { return backupFileName_; }
    const std::optional<Bytes>& currentFirmware() const { return currentFirmware_; }
    const std::optional<BackupChecksumAssessment>& backupAssessment() const {
        return backupAssessment_;
    }
    const std::optional<FirmwareFileAssessment>& firmwareAssessment() const {
        return firmwareAssessment_;
    }
    const std::optional<double>& progress() const { return progress_; }
    const std::optional<std::string>& progressCaption() const { return progressCaption_; }
    bool progressIsVerify() const { return progressIsVerify_; }
    int progressBarID() const { return progressBarID_; }
    const std::optional<std::string>& flashPageHeader() const { return flashPageHeader_; }
    const std::vector<std::string>& flashPageLines() const { return flashPageLines_; }
    const std::optional<std::string>& lastError() const { return lastError_; }
    const std::optional<std::string>& successMessage() const { return successMessage_; }
    bool confirmFlash() const { return confirmFlash_; }
    bool confirmSkipBackup() const { return confirmSkipBackup_; }
    bool usingSimulator() const { return usingSimulator_; }
    bool showWelcome() const { return showWelcome_; }
    FlasherMode selectedMode() const { return selectedMode_; }
    bool hasCompletedDemo() const { return hasCompletedDemo_; }
    BatchPhase batchPhase() const { return batchPhase_; }
    int batchUnitNumber() const { return batchUnitNumber_; }
    BatchBackupChoice batchBackupChoice() const { return batchBackupChoice_; }
    const std::optional<std::filesystem::path>& batchBackupFolder() const {
        return batchBackupFolder_;
    }
    /// Flashes leave out the settle pauses while the calculator keeps up (TransferPace); the
    /// setting "fastTransfer", off when missing.
    bool fastTransfer() const { return fastTransfer_; }
    /// The last flash was fast and fell back to the standard pace; cleared when the next
    /// operation starts.
    bool flashFellBack() const { return flashFellBack_; }

    // Fields the screens bind directly.
    void setSelectedMode(FlasherMode mode);
    /// Also writes the setting "fastTransfer"; the next flash goes at that pace.
    void setFastTransfer(bool fast);
    void setBatchBackupChoice(BatchBackupChoice choice);
    void setConfirmFlash(bool asking);
    void setConfirmSkipBackup(bool asking);

    // ---- Bookkeeping (not published) ----------------------------------------------------------
    const std::optional<std::string>& batchSessionStamp() const { return batchSessionStamp_; }
    bool hasBatchUnitTask() const { return batchUnitWorkTask_ != nullptr; }
    /// The kept SAM-BA connection.
    const std::shared_ptr<SambaClient>& client() const { return client_; }
    /// The monitoring loop is running.
    bool isMonitoring() const { return pollActive_; }
    const Flasher& flasher() const { return flasher_; }
    /// The DEMO calculator, while `usingSimulator`.
    const std::shared_ptr<SimulatedCalculatorTransport>& simulator() const { return simulator_; }
    bool simulatorHotKeyMonitor() const { return simulatorHotKeyMonitor_; }
    const std::optional<MonotonicClock::time_point>& demoConnectAfter() const {
        return demoConnectAfter_;
    }
    bool isPanelOpen() const { return isPanelOpen_; }

    // ---- Start, stop and mode choice ----------------------------------------------------------
    /// When the window appears: installs the demo shortcut and (re)starts the monitoring loop.
    void start();
    /// When the window disappears: stops the loop, removes the shortcut, closes the connection.
    void stop();
    /// The welcome screen's start button.
    void beginChosenSession();
    void returnToWelcome();
    /// demo → flash → batch → probe → demo.
    void cycleWelcomeMode();
    /// Sets `hasCompletedDemo` and the setting "demoModeCompleted", once.
    void markDemoCompleted();
    void resetWizardForNewSession();
    void clearCurrentFirmware();
    /// Compares the chosen firmware file with the backup's checksum again, after the backup
    /// changed.
    void reassessFirmwareFile();

    // ---- Busy and progress --------------------------------------------------------------------
    void beginBusy(const std::string& statusText, const std::optional<std::string>& caption);
    /// Status "Connected: <name>", or "Connected." when no chip is known.
    void finishBusySuccess(const std::string& message, const std::function<void()>& extra = {});
    void finishBusyFailure(std::exception_ptr error);
    void applyFlashProgress(double fraction, FlashProgressPhase phase);

    // ---- Derived values -----------------------------------------------------------------------
    std::string appTitle() const;
    bool isProbeSession() const;
    bool isBatchSession() const;
    bool canBackup() const;
    bool canSaveBackup() const;
    bool canFlash() const;
    std::string expectedChecksumShort() const;
    std::optional<std::string> flashedModelName() const;
    /// The line under a finished step of the step list; none for the current and later steps.
    std::optional<std::string> completionDetail(WizardStep step) const;
    /// The modem port's name the probe screen shows.
    std::optional<std::string> probePortName() const;
    /// The USB device behind `portPath`, as seen when that port was last opened.
    std::optional<UsbIdentity> portUsbIdentity() const;
    /// One line of help for `portPath` when the last attempt to open it was refused (not
    /// permitted, or busy); shown beside the status, whose text stays as it is.
    std::optional<std::string> portOpenHelp() const;
    /// The same help for `lastError` when it is "Could not open serial port …" for such a port.
    std::optional<std::string> lastErrorHelp() const;
    bool canStartBatch() const;

    // ---- Connection monitoring ----------------------------------------------------------------
    /// One DEMO/FLASH pass; `done` runs on the main thread when the pass is over.
    void refreshConnection(std::function<void()> done = {});
    /// One bounded connection attempt with the current `flasher` (1.5 s connect, 2.5 s watchdog).
    void probeConnect(std::function<void(ConnectOutcome)> resume);
    /// One bounded liveness read of `client` (1.5 s read, 2.5 s watchdog).
    void probePing(std::shared_ptr<SambaClient> client, std::function<void(bool)> resume);
    void adopt(const ConnectedTarget& target);
    /// Adopts a calculator a pass has found and shows it: "Connected: …", and the unsupported-chip
    /// error or none. Returns whether the chip is supported.
    bool adoptFoundTarget(const ConnectedTarget& target);
    void disconnect();
    /// Clears the messages, progress, page preview and calculator shown by a finished session.
    void clearSessionResults();

    // ---- Single-calculator flow ---------------------------------------------------------------
    void advance();
    void goBack();
    void checkCurrentFirmware();
    /// Asks for a file and saves `currentFirmware` into it (atomically).
    void backup();
    void skipBackup();
    void chooseFirmware();
    /// Judges a firmware file and keeps the bytes it judged: those are the bytes a flash writes.
    void applyFirmware(const std::filesystem::path& url);
    /// Flashes the chosen firmware when `canFlash` (the user has confirmed it).
    void flash();
    /// Writes and verifies the bytes judged when the firmware was chosen; refuses, writing
    /// nothing, when the file no longer holds exactly those bytes. `completion` is called once,
    /// unless no firmware is chosen (then nothing starts) or the session ends first.
    void performFlash(OperationCompletion completion);
    void finishFlashSuccess();

    // ---- Batch session ------------------------------------------------------------------------
    void beginBatchSession();
    void chooseBatchBackupFolder();
    void startBatch();
    void prepareNextBatchUnit();
    void retryBatchUnit();
    /// Ends the batch and asks the application to quit.
    void stopBatch();
    void refreshBatchConnection(std::function<void()> done = {});
    void runBatchStepIfReady();
    void resetBatchSession();
    void restoreBatchFirmware();
    void startBatchUnitWork();
    /// Reads the calculator's firmware and saves it as a new file at `location`, or beside it
    /// ("…-2.bin", …) when that name is taken: a backup is never replaced.
    void performBackup(const std::filesystem::path& location, OperationCompletion completion);

    // ---- Probe, simulator and shortcut --------------------------------------------------------
    void setUsingSimulator(bool on);
    void refreshProbeConnection(std::function<void()> done = {});
    void installSimulatorHotKey();
    void removeSimulatorHotKey();
    /// The window saw the demo shortcut (Ctrl+Shift+S, no other modifier, not auto-repeated).
    /// Returns whether the key is taken (swallowed): true while the shortcut is installed. The
    /// action itself runs in a later main-thread turn.
    bool handleSimulatorShortcut();

private:
    struct UnitTask;

    void assertMainThread() const;
    void notify();
    template <typename T, typename V> void assign(T& field, V&& value);
    template <typename Edit> void editWizard(Edit&& edit);

    std::weak_ptr<FlasherStore> weakSelf() { return weak_from_this(); }
    /// Ends the current session: its device work changes nothing from now on, and its batch unit
    /// is cancelled.
    void endSession();
    /// The way back for device work that starts now.
    SessionPost sessionPost() { return {platform_.mainQueue, weakSelf(), session_}; }
    Flasher realCableFlasher();

    /// What the last attempt to open a port found: its USB device, and help when it was refused.
    struct PortOpenRecord {
        std::optional<UsbIdentity> usb;
        std::optional<std::string> help;
        bool operator==(const PortOpenRecord& other) const = default;
    };
    /// `flasher` whose port opens are reported back to the main thread (`notePortOpen`).
    Flasher recordingPortOpens(Flasher flasher);
    void notePortOpen(const std::string& path, PortOpenRecord record);

    // Monitoring loop.
    void stopMonitoring();
    void schedulePollPass(double delay);
    void runPollPass(std::uint64_t generation);
    bool deviceAttemptInFlight() const { return deviceWaits_ > 0; }
    /// The pass that started in `session` may no longer change the store.
    bool passIsStale(const std::shared_ptr<WorkSession>& session) const {
        return session != session_ || wizard_.isBusy;
    }
    /// Without a cable the connection is dropped and the status waits for one; without a
    /// connection one is tried; a connection that stops answering is dropped and tried again.
    void checkCablesAndConnection(bool forBatch, const std::function<void()>& finish);
    void connectForPass(std::vector<SerialPort> cables, std::vector<SerialPort> modems,
                        std::function<void()> done);
    void connectForBatchPass(std::vector<SerialPort> cables, std::vector<SerialPort> modems,
                             std::function<void()> done);
    /// Closes a client without ever closing it under running device work.
    void closeClient(const std::shared_ptr<SambaClient>& client);

    // Work that makes sure the kept client answers (or reconnects) and then runs `work` with it
    // on the background; failures reach `fail` on the main thread.
    // Nothing of it runs once `report`'s session has ended.
    using ClientWork = std::function<void(const std::shared_ptr<SambaClient>& client)>;
    using Failure = std::function<void(std::exception_ptr error)>;
    void withPreparedClient(std::shared_ptr<SambaClient> existing, const Flasher& tool,
                            const SessionPost& report, ClientWork work, Failure fail);
    void connectAdoptAndRun(const Flasher& tool, const SessionPost& report, ClientWork work,
                            Failure fail);
    /// Ends a failed operation (the busy state, the error shown), then tells `completion`; does
    /// nothing once `report`'s session has ended.
    std::function<void(std::exception_ptr)> failureHandler(const SessionPost& report,
                                                           OperationCompletion completion);
    /// Ends an operation that could not start: the error shown, nothing written.
    void refuseOperation(std::exception_ptr error, const OperationCompletion& completion);
    /// Forgets the chosen firmware file and the bytes judged from it.
    void clearChosenFirmware();

    void finishCheckSuccess(Bytes data);
    bool isCurrentUnit(const std::shared_ptr<UnitTask>& task) const {
        return batchUnitWorkTask_ == task;
    }
    void runBatchUnit(const std::shared_ptr<UnitTask>& task);
    void batchUnitFlashStep(const std::shared_ptr<UnitTask>& task);
    void finishBatchUnit(const std::shared_ptr<UnitTask>& task, std::exception_ptr error);
    /// The batch setup's pass: lists the cables (connecting to none) and shows whether one is
    /// plugged in.
    void showBatchSetupCable();
    void prepareBatchUnit(bool nextNumber);
    std::string formattedSessionStamp() const;

    StorePlatform platform_;
    std::function<void()> onChange_;

    // Published fields.
    WizardState wizard_;
    std::string status_;
    std::optional<std::string> portPath_;
    std::optional<DeviceIdentity> identity_;
    std::optional<std::string> sambaVersion_;
    std::optional<std::filesystem::path> firmwareURL_;
    std::string firmwareDetail_;
    std::string expectedChecksumLabel_;
    bool backupSkipped_ = false;
    std::optional<std::string> backupFileName_;
    std::optional<Bytes> currentFirmware_;
    std::optional<BackupChecksumAssessment> backupAssessment_;
    std::optional<FirmwareFileAssessment> firmwareAssessment_;
    std::optional<double> progress_;
    std::optional<std::string> progressCaption_;
    bool progressIsVerify_ = false;
    int progressBarID_ = 0;
    std::optional<std::string> flashPageHeader_;
    std::vector<std::string> flashPageLines_;
    std::optional<std::string> lastError_;
    std::optional<std::string> successMessage_;
    bool confirmFlash_ = false;
    bool confirmSkipBackup_ = false;
    bool usingSimulator_ = false;
    bool showWelcome_ = true;
    FlasherMode selectedMode_ = FlasherMode::demo;
    bool hasCompletedDemo_ = false;
    BatchPhase batchPhase_ = BatchPhase::setup;
    int batchUnitNumber_ = 0;
    BatchBackupChoice batchBackupChoice_ = BatchBackupChoice::skip;
    std::optional<std::filesystem::path> batchBackupFolder_;
    bool fastTransfer_ = false;
    bool flashFellBack_ = false;

    // Bookkeeping.
    std::optional<std::string> batchSessionStamp_;
    std::shared_ptr<UnitTask> batchUnitWorkTask_;
    std::shared_ptr<SambaClient> client_;
    std::uint64_t pollGeneration_ = 0;
    TimerId pollTimer_ = 0;
    bool pollActive_ = false;
    // The session device work starting now belongs to.
    std::shared_ptr<WorkSession> session_ = std::make_shared<WorkSession>();
    // The bytes of the chosen firmware file as they were judged and shown.
    std::optional<FirmwareImage> firmwareImage_;
    // The unsupported-chip message a monitoring pass put up; the only failure a pass clears.
    std::optional<std::string> passError_;
    Flasher flasher_;
    std::shared_ptr<SimulatedCalculatorTransport> simulator_;
    bool simulatorHotKeyMonitor_ = false;
    std::optional<MonotonicClock::time_point> demoConnectAfter_;
    bool isPanelOpen_ = false;
    // By port path; shown through portUsbIdentity, portOpenHelp and lastErrorHelp.
    std::map<std::string, PortOpenRecord> portOpenRecords_;
    // Connection attempts and pings whose answer a pass is still waiting for.
    int deviceWaits_ = 0;
    // Held by background work while it talks to a device, so one client or port never carries two
    // conversations at once.
    std::shared_ptr<std::mutex> deviceLock_ = std::make_shared<std::mutex>();
};

} // namespace pelwick
