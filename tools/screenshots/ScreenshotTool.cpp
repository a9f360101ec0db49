// Renders every screen of the window to PNG files, light and dark, at the default window size
// (920 × 760), maximised on a large screen (1920 × 1080) and at the smallest size the window
// allows, on Qt's offscreen platform. The application is set up and themed exactly as `pelwick`
// sets itself up, with the catalogue it ships. The store runs on the fake main queue in virtual
// time; device work runs against simulated calculators and can be held at a chosen command to
// show an operation in progress.
//
//   pelwick_screenshots OUTDIR
//
// Writes OUTDIR/<light|dark>/<920x760|1920x1080|minimum>/<screen>.png and the dialogs to
// OUTDIR/<light|dark>/dialogs/. Ends with status 3 when a screen does not fit the default window
// without scrolling (it is then also saved tall enough to show everything, as <screen>-full.png).

#include "screenshots/GatedWork.h"
#include "store/FlasherStore.h"
#include "support/TempDir.h"
#include "support/store/FakeMainQueue.h"
#include "support/store/MemorySettings.h"
#include "support/store/QuitRecorder.h"
#include "support/store/ScriptedDialogs.h"
#include "support/store/SimulatedBench.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"
#include "ui/Theme.h"
#include "ui/platform/QtStorePlatform.h"
#include "ui/screens/BatchScreen.h"
#include "ui/screens/WizardScreen.h"
#include "ui/widgets/ActionButton.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScrollArea>
#include <QScrollBar>

#include <cerrno>
#include <cstdlib>
#include <ctime>
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
QStringList notFitting;

const QSize defaultSize(920, 760);
const QSize largeSize(1920, 1080);

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
        window->resize(defaultSize);
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
    std::shared_ptr<SimulatedBench> bench =
        std::make_shared<SimulatedBench>(std::make_shared<GatedSimulator>(work));
    std::shared_ptr<FlasherStore> store;
    std::unique_ptr<MainWindow> window;
};

void save(QWidget& widget, const QString& size, const QString& name) {
    const QString folder = outputFolder + "/" + scheme + "/" + size;
    QDir().mkpath(folder);
    const QString path = folder + "/" + name + ".png";
    if (!widget.grab().save(path)) {
        std::cerr << "could not write " << path.toStdString() << "\n";
        std::exit(1);
    }
    ++written;
}

QString sizeName(QSize size) {
    return QString("%1x%2").arg(size.width()).arg(size.height());
}

/// How far the visible content of the window scrolls.
int overflow(MainWindow& window) {
    int extra = 0;
    for (QScrollArea* area : window.findChildren<QScrollArea*>()) {
        if (area->isVisible()) {
            extra = std::max(extra, area->verticalScrollBar()->maximum());
        }
    }
    return extra;
}

/// The window as the user sees it at the default size and on a large screen. A screen that
/// needs scrolling at the default size is noted and saved once more, tall enough to show all.
void shoot(Session& session, const QString& name) {
    for (const QSize size : {defaultSize, largeSize, QSize()}) {
        // An empty size stands for the smallest the window can be made.
        const bool smallest = size.isEmpty();
        session.window->resize(smallest ? session.window->minimumSizeHint() : size);
        session.pump();
        save(*session.window, smallest ? "minimum" : sizeName(size), name);
        const int extra = size == defaultSize ? overflow(*session.window) : 0;
        if (extra > 0) {
            notFitting << scheme + "/" + name + QString(" (%1 px)").arg(extra);
            session.window->resize(size + QSize(0, extra + 8));
            session.pump();
            save(*session.window, sizeName(size), name + "-full");
        }
    }
    session.window->resize(defaultSize);
    session.pump();
}

void saveDialog(QWidget& dialog, const QString& name) {
    save(dialog, "dialogs", name);
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
        saveDialog(*box, "demo-3-backup-skip-confirmation");
        clickButton(*box, "Cancel");
    }
    session.settle();
    session.dialogs->saveAnswers.push_back(files.folder.path() /
                                           "hp15c-ce-20230105-9090h-20260105.bin");
    session.store->backup();
    session.settle();
    shoot(session, "demo-3-backup-saved");
    session.window->wizardScreen()->welcomeButton()->click();
    if (QMessageBox* leave = openConfirmation(session)) {
        saveDialog(*leave, "demo-3-leave-confirmation");
        clickButton(*leave, "Cancel");
    }
    session.settle();

    session.store->advance();
    session.settle();
    shoot(session, "demo-4-firmware-empty");
    session.dialogs->openAnswers.push_back(files.folder.write("short.bin", Bytes(1000, 0x11)));
    session.store->chooseFirmware();
    session.settle();
    shoot(session, "demo-4-firmware-refused");
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
    saveDialog(*box, "demo-5-flash-confirmation");
    session.work->armGate('S', 100);
    clickButton(*box, "Flash at 0x04000");
    session.settle();
    shoot(session, "demo-5-flash-writing");
    session.window->requestQuit();
    session.pump();
    if (QMessageBox* quit = session.window->quitConfirmation()) {
        saveDialog(*quit, "demo-5-quit-while-writing-confirmation");
        clickButton(*quit, "Cancel");
    }
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
        saveDialog(*box, "flash-5-flash-confirmation");
        session.bench->blockReadsUntilTamper = 1;
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
    session.advance(1.2);
    shoot(session, "batch-setup-ready");
    session.store->startBatch();
    session.settle();
    shoot(session, "batch-waiting");
    session.window->batchScreen()->stopButton()->click();
    if (QMessageBox* stop = openConfirmation(session)) {
        saveDialog(*stop, "batch-stop-confirmation");
        clickButton(*stop, "Cancel");
    }
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
    prepareApplication();
    outputFolder = QDir(argv[1]).absolutePath();

    Files files;
    const auto demoFolder = demoFirmwareFolder();
    if (!demoFolder) {
        std::cerr << "the demo image is missing beside the program\n";
        return 1;
    }
    files.demoImage = *demoFolder / "pelwick-demo-image.bin";
    files.otherImage = files.folder.write("hp15c-custom.bin", patternImage(3));

    for (const Theme::ColorScheme colors : {Theme::ColorScheme::light, Theme::ColorScheme::dark}) {
        scheme = colors == Theme::ColorScheme::light ? "light" : "dark";
        Theme::apply(colors);
        welcomeScreens();
        demoWizard(files);
        flashWizard(files);
        batchScreens(files);
        probeScreens();
        portHelpScreens(files);
    }
    std::cout << "wrote " << written << " screenshots to " << outputFolder.toStdString() << "\n";
    if (!notFitting.isEmpty()) {
        std::cout << "These screens need scrolling at " << sizeName(defaultSize).toStdString()
                  << ":\n  " << notFitting.join("\n  ").toStdString() << "\n";
        return 3;
    }
    return 0;
}
