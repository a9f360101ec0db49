#include "ui/platform/QtMainQueue.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace pelwick {

QtMainQueue::QtMainQueue() : context_(new QObject) {}

QtMainQueue::~QtMainQueue() {
    alive_->store(false);
    if (isMainThread()) {
        delete context_; // also deletes the pending timers, its children
    } else {
        context_->deleteLater();
    }
}

void QtMainQueue::post(std::function<void()> job) {
    QMetaObject::invokeMethod(
        context_,
        [alive = alive_, job = std::move(job)] {
            if (alive->load()) {
                job();
            }
        },
        Qt::QueuedConnection);
}

TimerId QtMainQueue::postDelayed(double seconds, std::function<void()> job) {
    const TimerId id = nextId_++;
    auto* timer = new QTimer(context_);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, context_,
                     [this, id, timer, alive = alive_, job = std::move(job)] {
                         timer->deleteLater();
                         if (!alive->load()) {
                             return; // the queue is gone; so is `this`
                         }
                         timers_.erase(id);
                         job();
                     });
    timers_.emplace(id, timer);
    timer->start(int(std::ceil(std::max(0.0, seconds) * 1000.0)));
    return id;
}

void QtMainQueue::cancel(TimerId id) {
    const auto found = timers_.find(id);
    if (found == timers_.end()) {
        return;
    }
    found->second->stop();
    found->second->deleteLater();
    timers_.erase(found);
}

MonotonicClock::time_point QtMainQueue::now() const {
    return MonotonicClock::now();
}

bool QtMainQueue::isMainThread() const {
    return QThread::currentThread() == context_->thread();
}

} // namespace pelwick
