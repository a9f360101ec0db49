// Renders every screen of the window to PNG files, light and dark, on Qt's offscreen platform.
// The store runs on the fake main queue in virtual time; device work runs against simulated
// calculators and can be held at a chosen command to show an operation in progress.
//
//   pelwick_screenshots OUTDIR

#include "firmware/VoyagerFirmwareChecksum.h"
#include "screenshots/GatedWork.h"
#include "store/FlasherStore.h"
#include "support/TempDir.h"
#include "support/store/FakeMainQueue.h"
#include "support/store/MemorySettings.h"
#include "support/store/QuitRecorder.h"
#include "support/store/ScriptedDialogs.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"
#include "uisupport/CalculatorBench.h"
#include "util/FileIO.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>
#include <QStyleFactory>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <grp.h>
#include <iostream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace pelwick;
using namespace pelwick::testing;
using pelwick::screenshots::GatedSimulator;
using pelwick::screenshots::GatedWork;

namespace {

QString outputFolder;
QString scheme;
int written = 0;

/// One window on its own store and fakes.
class Session {
public:
    explicit Session(const std::function<void(MemorySettings&)>& settingsSetup = {}) {
        if (settingsSetup) {
            settingsSetup(*settings);
        }
        StorePlatform platform;
        platform.mainQueue = queue;
        platform.background = work;
        platform.settings = settings;
        platform.dialogs = dialogs;
        platform.app = std::make_shared<QuitRecorder>();
        platform.wallClock = [] {
            return std::chrono::system_clock::time_point(std::chrono::seconds(1767623529));
        };
        platform.makeSimulator = [work = work] { return std::make_shared<GatedSimulator>(work); };
        platform.makeRealCableFlasher = [bench = bench] { return bench->flasher(); };
        store = FlasherStore::create(platform);
        window = std::make_unique<MainWindow>(store, [] {});
        window->resize(920, 760);
        window->show();
        settle();
    }

    ~Session() {
        work->releaseGate();
        window.reset();
        settle();
        store.reset();
    }

    void settle() {
        for (;;) {
            queue->drain();
            work->waitQuiet();
            if (!queue->hasPosts()) {
                break;
            }
        }
        pump();
    }

    void advance(double seconds) {
        queue->advance(seconds, [this] { settle(); });
    }

    void pump() {
        QCoreApplication::processEvents();
        if (window) {
            window->refreshNow();
            QCoreApplication::processEvents();
        }
    }

    void begin(FlasherMode mode) {
        store->setSelectedMode(mode);
        store->beginChosenSession();
        settle();
    }

    /// Runs DEMO/FLASH up to a connected calculator on the programming-mode step.
    void connect() {
        store->advance();
        advance(4.0);
    }

    std::shared_ptr<GatedWork> work = std::make_shared<GatedWork>();
    std::shared_ptr<FakeMainQueue> queue = std::make_shared<FakeMainQueue>();
    std::shared_ptr<MemorySettings> settings = std::make_shared<MemorySettings>();
    std::shared_ptr<ScriptedDialogs> dialogs = std::make_shared<ScriptedDialogs>();
    std::shared_ptr<CalculatorBench> bench =
        std::make_shared<CalculatorBench>(std::make_shared<GatedSimulator>(work));
    std::shared_ptr<FlasherStore> store;
    std::unique_ptr<MainWindow> window;
};

void save(QWidget& widget, const QString& name) {
    const QString path = outputFolder + "/" + scheme + "/" + name + ".png";
    if (!widget.grab().save(path)) {
        std::cerr << "could not write " << path.toStdString() << "\n";
        std::exit(1);
    }
    ++written;
}

/// The window as the user sees it at 920 × 760 and, when its content scrolls, once more tall
/// enough to show everything.
void shoot(Session& session, const QString& name) {
    session.window->resize(920, 760);
    session.pump();
    save(*session.window, name);
    int extra = 0;
    for (QScrollArea* area : session.window->findChildren<QScrollArea*>()) {
        if (area->isVisible()) {
            extra = std::max(extra, area->verticalScrollBar()->maximum());
        }
    }
    if (extra > 0) {
        session.window->resize(920, 760 + extra + 8);
        session.pump();
        save(*session.window, name + "-full");
        session.window->resize(920, 760);
        session.pump();
    }
}

QMessageBox* openConfirmation(Session& session) {
    session.pump();
    return session.window->findChild<QMessageBox*>();
}

void clickButton(QMessageBox& box, const QString& text) {
    for (QAbstractButton* button : box.buttons()) {
        if (button->text() == text) {
            button->click();
            return;
        }
    }
    std::cerr << "no button " << text.toStdString() << "\n";
    std::exit(1);
}

struct Files {
    std::filesystem::path demoImage;
    std::filesystem::path otherImage;
    TempDir folder;
};

void welcomeScreens() {
    {
        Session session;
        shoot(session, "welcome-first-start");
    }
    Session session([](MemorySettings& settings) {
        settings.setBool(FlasherStore::demoModeCompletedKey, true);
        settings.setString(FlasherStore::flasherModeKey, "flash");
    });
    shoot(session, "welcome-flash-selected");
}

void demoWizard(Files& files) {
    Session session;
    session.begin(FlasherMode::demo);
    shoot(session, "demo-1-cable");
    session.store->advance();
    session.advance(0.5);
    shoot(session, "demo-2-programming-mode-waiting");
    session.advance(3.5);
    shoot(session, "demo-2-programming-mode-connected");

    session.work->armGate('R', 12);
    session.store->advance();
    session.settle();
    shoot(session, "demo-3-backup-checking");
    session.work->releaseGate();
    session.settle();
    shoot(session, "demo-3-backup-read");
    session.store->setConfirmSkipBackup(true);
    if (QMessageBox* box = openConfirmation(session)) {
        save(*box, "demo-3-backup-skip-confirmation");
        clickButton(*box, "Cancel");
    }
    session.settle();
    session.dialogs->saveAnswers.push_back(files.folder.path() / "hp15c-ce-9090h-20260105.bin");
    session.store->backup();
    session.settle();
    shoot(session, "demo-3-backup-saved");

    session.store->advance();
    session.settle();
    shoot(session, "demo-4-firmware-empty");
    session.dialogs->openAnswers.push_back(files.demoImage);
    session.store->chooseFirmware();
    session.settle();
    shoot(session, "demo-4-firmware-chosen");

    session.store->advance();
    session.settle();
    shoot(session, "demo-5-flash-ready");
    session.store->setConfirmFlash(true);
    QMessageBox* box = openConfirmation(session);
    if (!box) {
        std::cerr << "no flash confirmation\n";
        std::exit(1);
    }
    save(*box, "demo-5-flash-confirmation");
    session.work->armGate('S', 100);
    clickButton(*box, "Flash at 0x04000");
    session.settle();
    shoot(session, "demo-5-flash-writing");
    session.work->releaseGate();
    session.work->armGate('R', 9);
    session.settle();
    shoot(session, "demo-5-flash-verifying");
    session.work->releaseGate();
    session.settle();
    shoot(session, "demo-5-flash-done");

    session.store->advance();
    session.settle();
    shoot(session, "demo-6-restart");
    session.store->advance();
    session.settle();
    shoot(session, "demo-7-checksum");
}

void flashWizard(Files& files) {
    Session session;
    session.begin(FlasherMode::flash);
    shoot(session, "flash-1-cable");
    session.connect();
    shoot(session, "flash-2-programming-mode-connected");
    session.store->advance();
    session.settle();
    session.store->setConfirmSkipBackup(true);
    if (QMessageBox* box = openConfirmation(session)) {
        clickButton(*box, "Skip backup");
    }
    session.settle();
    shoot(session, "flash-3-backup-skipped");
    session.store->advance();
    session.settle();
    session.dialogs->openAnswers.push_back(files.otherImage);
    session.store->chooseFirmware();
    session.settle();
    shoot(session, "flash-4-firmware-unrecognized");
    session.store->advance();
    session.settle();
    shoot(session, "flash-5-flash-ready");
    session.store->setConfirmFlash(true);
    if (QMessageBox* box = openConfirmation(session)) {
        save(*box, "flash-5-flash-confirmation");
        session.bench->tamperNextBlockRead = true;
        clickButton(*box, "Flash at 0x04000");
    }
    session.settle();
    shoot(session, "flash-5-flash-failed");
    session.advance(1.5);
    session.store->setConfirmFlash(true);
    if (QMessageBox* box = openConfirmation(session)) {
        clickButton(*box, "Flash at 0x04000");
    }
    session.settle();
    shoot(session, "flash-5-flash-done");
    session.store->advance();
    session.settle();
    shoot(session, "flash-6-restart");
    session.store->advance();
    session.settle();
    shoot(session, "flash-7-checksum");

    Session unplugged;
    unplugged.bench->listing->set({});
    unplugged.begin(FlasherMode::flash);
    unplugged.connect();
    shoot(unplugged, "flash-2-programming-mode-no-cable");
}

void batchScreens(Files& files) {
    Session session;
    session.begin(FlasherMode::batch);
    shoot(session, "batch-setup-empty");
    session.dialogs->openAnswers.push_back(files.demoImage);
    session.store->chooseFirmware();
    session.store->setBatchBackupChoice(BatchBackupChoice::autoSave);
    session.dialogs->folderAnswers.push_back(files.folder.path());
    session.store->chooseBatchBackupFolder();
    session.settle();
    shoot(session, "batch-setup-ready");
    session.store->startBatch();
    session.settle();
    shoot(session, "batch-waiting");
    session.work->armGate('R', 10);
    session.advance(1.2);
    shoot(session, "batch-backing-up");
    session.work->releaseGate();
    session.work->armGate('S', 140);
    session.settle();
    shoot(session, "batch-flashing");
    session.work->releaseGate();
    session.settle();
    shoot(session, "batch-unit-done");
    session.store->prepareNextBatchUnit();
    session.bench->makeUnsupported();
    session.advance(1.2);
    shoot(session, "batch-error");
}

void probeScreens() {
    {
        Session session;
        session.bench->listing->set({});
        session.begin(FlasherMode::probe);
        session.advance(1.2);
        shoot(session, "probe-no-cable");
    }
    {
        Session session;
        session.begin(FlasherMode::probe);
        session.advance(1.2);
        shoot(session, "probe-connected");
    }
    Session session;
    session.bench->makeUnsupported();
    session.begin(FlasherMode::probe);
    session.advance(1.2);
    shoot(session, "probe-unsupported");
}

/// A calculator whose port the user may not open: the status and the error keep their texts and
/// gain a line of help.
void portHelpScreens(Files& files) {
    const std::string port = files.folder.write("ttyACM0", {}).string();
    if (const group* dialout = ::getgrnam("dialout"); dialout && ::geteuid() == 0) {
        [[maybe_unused]] const int changed = ::chown(port.c_str(), 0, dialout->gr_gid);
    }
    ::chmod(port.c_str(), 0660);
    const SerialPort monitor{port, UsbIdentity{0x03EB, 0x6124, "ATMEL", "SAM-BA", ""}};
    {
        Session session;
        session.bench->listing->set({monitor});
        session.bench->refuseOpens = EACCES;
        session.begin(FlasherMode::probe);
        session.advance(1.2);
        shoot(session, "probe-port-not-permitted");
    }
    Session session;
    session.bench->listing->set({monitor});
    session.bench->refuseOpens = EACCES;
    session.begin(FlasherMode::flash);
    session.connect();
    shoot(session, "flash-2-programming-mode-not-permitted");
    session.bench->refuseOpens = 0;
    session.advance(1.0);
    shoot(session, "flash-2-programming-mode-confirmed-port");
    session.bench->calculator->setClosed(true);
    session.bench->refuseOpens = EACCES;
    session.store->advance();
    session.advance(3.0);
    shoot(session, "flash-3-backup-port-not-permitted");
}

/// A catalogue that knows the simulator's preloaded firmware and the demo image, so the DEMO
/// screens show recognised firmware; the FLASH run chooses an unlisted image.
void writeCatalogue(const TempDir& folder, const Bytes& demoImage) {
    const auto bundle = folder.path() / "Pelwick_PelwickCore.bundle";
    std::filesystem::create_directories(bundle);
    const std::string demo =
        VoyagerFirmwareChecksum::formatted(VoyagerFirmwareChecksum::displayedValue(demoImage));
    std::ofstream(bundle / "known-firmware.json") << R"({"firmware": [
            {"checksum": "9090", "model": "HP 15c Collector’s Edition", "fileName": "hp15c-ce",
             "description": "Preloaded in the simulator"},
            {"checksum": ")" << demo.substr(0, 4) << R"(", "model": "HP 15c Collector’s Edition",
             "fileName": "hp15c-ce-demo", "description": "Demo image"}
        ]})";
    setenv("PELWICK_BUNDLE_DIR", bundle.c_str(), 1);
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: pelwick_screenshots OUTDIR\n";
        return 2;
    }
    setenv("TZ", "UTC", 1);
    tzset();
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    QFont font("DejaVu Sans");
    font.setPointSizeF(10);
    QApplication::setFont(font);
    outputFolder = QDir(argv[1]).absolutePath();

    Files files;
    const std::filesystem::path built =
        std::filesystem::path(PELWICK_BIN_DIR) / "demo-firmware" / "pelwick-demo-image.bin";
    files.demoImage = std::filesystem::exists(built)
                          ? built
                          : files.folder.write("pelwick-demo-image.bin", patternImage(7));
    files.otherImage = files.folder.write("hp15c-custom.bin", patternImage(3));
    TempDir catalogueFolder;
    writeCatalogue(catalogueFolder, readWholeFile(files.demoImage));

    for (const char* name : {"light", "dark"}) {
        scheme = name;
        QDir().mkpath(outputFolder + "/" + scheme);
        QApplication::setPalette(scheme == "light" ? Theme::lightPalette() : Theme::darkPalette());
        welcomeScreens();
        demoWizard(files);
        flashWizard(files);
        batchScreens(files);
        probeScreens();
        portHelpScreens(files);
    }
    std::cout << "wrote " << written << " screenshots to " << outputFolder.toStdString() << "\n";
    return 0;
}
