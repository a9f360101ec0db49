#pragma once

#include "store/Platform.h"

#include <QObject>

#include <atomic>
#include <map>
#include <memory>

class QTimer;

namespace pelwick {

/// The main queue on the Qt event loop of the thread that creates it: posted jobs are queued
/// calls to a context object on that thread, delayed jobs single-shot timers.
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
    QObject* context_;
    // Cleared when the queue is torn down, so jobs still in Qt's queue are dropped unrun.
    std::shared_ptr<std::atomic<bool>> alive_ = std::make_shared<std::atomic<bool>>(true);
    std::map<TimerId, QTimer*> timers_;
    TimerId nextId_ = 1;
};

} // namespace pelwick
