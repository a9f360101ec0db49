#include "UiHarness.h"

#include "ui/platform/QtDialogs.h"
#include "ui/platform/QtMainQueue.h"
#include "ui/platform/QtSettingsStore.h"
#include "ui/platform/QtStorePlatform.h"
#include "ui/screens/WizardScreen.h"
#include "ui/screens/steps/FlashStepBody.h"
#include "util/FileIO.h"

#include <QFileDialog>
#include <QHeaderView>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <thread>

namespace pelwick::testing {
namespace {

TEST(QtMainQueue, RunsPostsOnTheMainThreadAndCancelsDelayedJobs) {
    auto queue = std::make_shared<QtMainQueue>();
    EXPECT_TRUE(queue->isMainThread());
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> workerSawMain{true};
    std::thread worker([&] {
        workerSawMain = queue->isMainThread();
        queue->post([&] { ranOnMain = queue->isMainThread(); });
    });
    worker.join();
    EXPECT_FALSE(workerSawMain);
    EXPECT_TRUE(QTest::qWaitFor([&] { return ranOnMain.load(); }, 2000));

    std::vector<int> order;
    const auto start = queue->now();
    queue->postDelayed(0.03, [&] { order.push_back(2); });
    const TimerId dropped = queue->postDelayed(0.01, [&] { order.push_back(99); });
    queue->postDelayed(0.0, [&] { order.push_back(1); });
    queue->cancel(dropped);
    queue->cancel(12345); // unknown ids are ignored
    EXPECT_TRUE(QTest::qWaitFor([&] { return order.size() == 2; }, 2000));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_GE(queue->now() - start, std::chrono::milliseconds(25));

    // A queue that is torn down drops what it still holds.
    bool ranAfterTearDown = false;
    queue->post([&] { ranAfterTearDown = true; });
    queue->postDelayed(0.0, [&] { ranAfterTearDown = true; });
    queue.reset();
    QTest::qWait(30);
    EXPECT_FALSE(ranAfterTearDown);
}

TEST(QtSettingsStore, KeepsTextsAndBooleansAcrossInstances) {
    TempDir folder;
    const QString file = QString::fromStdString((folder / "settings.ini").string());
    {
        QtSettingsStore settings(file);
        EXPECT_EQ(settings.string("flasherMode"), std::nullopt);
        EXPECT_EQ(settings.boolean("demoModeCompleted"), std::nullopt);
        settings.setString("flasherMode", "probe");
        settings.setBool("demoModeCompleted", true);
        settings.setString("batchFirmwarePath", "/tmp/a.bin");
        settings.remove("batchFirmwarePath");
    }
    QtSettingsStore reread(file);
    EXPECT_EQ(reread.string("flasherMode"), "probe");
    EXPECT_EQ(reread.boolean("demoModeCompleted"), true);
    EXPECT_EQ(reread.boolean("flasherMode"), std::nullopt); // a text is not a boolean
    EXPECT_EQ(reread.string("batchFirmwarePath"), std::nullopt);
}

/// Answers the next file dialog: `inspect` sees it open, then it is accepted with `choice` or,
/// without one, cancelled.
void answerNextDialog(std::function<void(QFileDialog&)> inspect, QString choice = {}) {
    QTimer::singleShot(0, [inspect, choice] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        inspect(*dialog);
        if (choice.isEmpty()) {
            dialog->reject();
        } else {
            dialog->selectFile(choice);
            static_cast<QDialog*>(dialog)->accept();
        }
    });
}

TEST(QtDialogs, OpenInTheFolderLastUsedForTheirPurposeElseHomeShowingTheirColumns) {
    TempDir home;
    const QByteArray savedHome = qgetenv("HOME");
    qputenv("HOME", QByteArray::fromStdString(home.path().string()));
    std::filesystem::create_directory(home / "firmware");
    const auto image = home.write("firmware/image.bin", patternImage(1));
    const QString homePath = QString::fromStdString(home.path().string());
    QtDialogs dialogs;

    QString startedIn;
    const auto note = [&](QFileDialog& dialog) {
        startedIn = dialog.directory().absolutePath();
        // Every column of the file list is inside the visible list.
        auto* files = dialog.findChild<QTreeView*>("treeView");
        ASSERT_NE(files, nullptr);
        ASSERT_TRUE(files->isVisible());
        const QHeaderView* header = files->header();
        for (int section = 0; section < header->count(); ++section) {
            EXPECT_LE(header->sectionViewportPosition(section) + header->sectionSize(section),
                      files->viewport()->width())
                << "column " << section;
        }
    };
    answerNextDialog(note, QString::fromStdString(image.string()));
    EXPECT_EQ(dialogs.openFile("Choose firmware", "message"), image);
    EXPECT_EQ(startedIn, homePath);
    answerNextDialog(note);
    EXPECT_EQ(dialogs.openFile("Choose firmware", "message"), std::nullopt);
    EXPECT_EQ(startedIn, QString::fromStdString(image.parent_path().string()));
    // Another purpose keeps its own folder.
    answerNextDialog(note);
    EXPECT_EQ(dialogs.saveFile("Save current firmware", "backup.bin"), std::nullopt);
    EXPECT_EQ(startedIn, homePath);
    qputenv("HOME", savedHome);
}

TEST(DemoFirmware, SampleImageLiesBesideTheProgramAndIsNoFirmware) {
    const auto folder = demoFirmwareFolder();
    ASSERT_TRUE(folder.has_value());
    const Bytes image = readWholeFile(*folder / "pelwick-demo-image.bin");
    EXPECT_EQ(image.size(), 114688u);
    const std::string start(image.begin(), image.begin() + 45);
    EXPECT_EQ(start, "PELWICK DEMO IMAGE - NOT CALCULATOR FIRMWARE.");
    EXPECT_NE(image.back(), 0); // the whole image counts for its checksum
}

TEST(DemoFirmware, OpenDialogsStartInItsFolderOnlyWhileSimulating) {
    TempDir folder;
    QtStorePlatform qt = QtStorePlatform::make(QString::fromStdString((folder / "s.ini").string()));
    auto store = FlasherStore::create(qt.platform);
    qt.startOpenDialogsInDemoFolder(store);
    EXPECT_EQ(qt.dialogs->openFileStartFolder(), std::nullopt);
    store->setUsingSimulator(true);
    EXPECT_EQ(qt.dialogs->openFileStartFolder(), demoFirmwareFolder());
    store->setUsingSimulator(false);
    EXPECT_EQ(qt.dialogs->openFileStartFolder(), std::nullopt);
    store.reset();
    EXPECT_EQ(qt.dialogs->openFileStartFolder(), std::nullopt);
}

// The real Qt platform: device work runs on worker threads, so while a DEMO calculator is being
// flashed the event loop keeps turning and the window keeps being redrawn.
TEST(QtPlatform, EventLoopKeepsTurningDuringADemoFlash) {
    TempDir folder;
    QtStorePlatform qt = QtStorePlatform::make(QString::fromStdString((folder / "s.ini").string()));
    qt.platform.makeSimulator = [] {
        return std::make_shared<SimulatedCalculatorTransport>(0.004, true);
    };
    auto store = FlasherStore::create(qt.platform);
    int quits = 0;
    MainWindow window(store, [&] { ++quits; });
    window.show();
    store->setSelectedMode(FlasherMode::demo);
    store->beginChosenSession();
    store->advance();
    // The simulated calculator connects 3 s after the wizard first looks for it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->wizard().identitySupported; }, 8000));
    store->skipBackup();
    store->advance();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store->wizard().isBusy; }, 5000));
    store->advance();
    store->applyFirmware(*demoFirmwareFolder() / "pelwick-demo-image.bin");
    store->advance();
    store->advance();
    ASSERT_EQ(store->wizard().step, WizardStep::flash);

    // Had the work run on the main thread, flash() would return with it done and no tick between.
    int ticksWhileBusy = 0;
    QTimer ticker;
    ticker.setInterval(5);
    QObject::connect(&ticker, &QTimer::timeout, [&] { ticksWhileBusy += store->wizard().isBusy; });
    ticker.start();
    store->flash();
    ASSERT_TRUE(store->wizard().isBusy);
    ASSERT_TRUE(QTest::qWaitFor([&] { return store->wizard().flashSucceeded; }, 20000))
        << store->lastError().value_or("");
    EXPECT_GT(ticksWhileBusy, 1);
    window.close();
}

} // namespace
} // namespace pelwick::testing
