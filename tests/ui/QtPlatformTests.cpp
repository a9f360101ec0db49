#include "UiHarness.h"

#include "ui/platform/QtDialogs.h"
#include "ui/platform/QtMainQueue.h"
#include "ui/platform/QtStorePlatform.h"

#include <QTimer>

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

// The sample image beside the program is offered while simulating only, never for a real
// calculator.
TEST(DemoFirmware, OpenDialogsStartInItsFolderOnlyWhileSimulating) {
    ASSERT_TRUE(demoFirmwareFolder().has_value());
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
