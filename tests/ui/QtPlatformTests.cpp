#include "UiHarness.h"

#include "ui/platform/QtDialogs.h"
#include "ui/platform/QtMainQueue.h"
#include "ui/platform/QtStorePlatform.h"

#include <atomic>
#include <future>
#include <thread>

namespace pelwick::testing {
namespace {

TEST(QtMainQueue, RunsPostsOnTheMainThreadAndCancelsDelayedJobs) {
    auto queue = std::make_shared<QtMainQueue>();
    EXPECT_TRUE(queue->isMainThread());
    std::atomic<bool> ranOnMain{false};
    const bool workerSawMain = std::async(std::launch::async, [&] {
                                   queue->post([&] { ranOnMain = queue->isMainThread(); });
                                   return queue->isMainThread();
                               }).get();
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

// The real Qt platform runs device work on a thread of its own, so a slow calculator never
// freezes the window; its open dialogs start in the folder of the sample image beside the program
// while simulating only, never for a real calculator.
TEST(QtPlatform, RunsDeviceWorkOffTheMainThreadAndOffersTheDemoFolderOnlyWhileSimulating) {
    ASSERT_TRUE(demoFirmwareFolder().has_value());
    TempDir folder;
    QtStorePlatform qt = QtStorePlatform::make(QString::fromStdString((folder / "s.ini").string()));
    std::promise<std::thread::id> ranOn;
    qt.platform.background->run([&] { ranOn.set_value(std::this_thread::get_id()); });
    std::future<std::thread::id> thread = ranOn.get_future();
    ASSERT_EQ(thread.wait_for(std::chrono::seconds(20)), std::future_status::ready);
    EXPECT_NE(thread.get(), std::this_thread::get_id());

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

} // namespace
} // namespace pelwick::testing
