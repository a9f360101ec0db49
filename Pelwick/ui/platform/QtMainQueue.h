#pragma once

#include "store/Platform.h"

#include <QObject>

#include <deque>
#include <map>
#include <memory>
#include <mutex>

class QTimer;

namespace pelwick {

/// The main queue on the Qt event loop of the thread that creates it: posted jobs wait in a queue
/// of our own under a standard lock (so that race checkers see the hand-over from device threads)
/// and a queued call to a context object on that thread runs the oldest; delayed jobs are
/// single-shot timers.
class QtMainQueue : public MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;

    void post(std::function<void()> job) override;
    TimerId postDelayed(double seconds, std::function<void()> job) override;
    void cancel(TimerId id) override;
    MonotonicClock::time_point now() const override;
    bool isMainThread() const override;

private:
    // Posted jobs not run yet; shared with the queued calls, which may outlive the queue.
    struct Pending {
        std::mutex mutex;
        std::deque<std::function<void()>> jobs;
        bool alive = true; // cleared when the queue is torn down: later jobs are dropped unrun
    };

    QObject* context_;
    std::shared_ptr<Pending> pending_ = std::make_shared<Pending>();
    std::map<TimerId, QTimer*> timers_;
    TimerId nextId_ = 1;
};

} // namespace pelwick
