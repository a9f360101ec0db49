#include "ui/platform/QtMainQueue.h"

#include <QMetaObject>
#include <QThread>
#include <QTimer>

#include <cmath>

namespace pelwick {

namespace {
template <typename Pending> bool isAlive(Pending& pending) {
    std::lock_guard<std::mutex> guard(pending.mutex);
    return pending.alive;
}
} // namespace

QtMainQueue::QtMainQueue() : context_(new QObject) {}

QtMainQueue::~QtMainQueue() {
    {
        std::lock_guard<std::mutex> guard(pending_->mutex);
        pending_->alive = false;
        pending_->jobs.clear();
    }
    if (isMainThread()) {
        delete context_; // also deletes the pending timers, its children
    } else {
        context_->deleteLater();
    }
}

void QtMainQueue::post(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> guard(pending_->mutex);
        if (!pending_->alive) {
            return;
        }
        pending_->jobs.push_back(std::move(job));
    }
    // One queued call per job; both queues keep their order, so each call runs the oldest job.
    QMetaObject::invokeMethod(
        context_,
        [pending = pending_] {
            std::function<void()> next;
            {
                std::lock_guard<std::mutex> guard(pending->mutex);
                if (!pending->alive || pending->jobs.empty()) {
                    return;
                }
                next = std::move(pending->jobs.front());
                pending->jobs.pop_front();
            }
            next();
        },
        Qt::QueuedConnection);
}

TimerId QtMainQueue::postDelayed(double seconds, std::function<void()> job) {
    const TimerId id = nextId_++;
    auto* timer = new QTimer(context_);
    timer->setSingleShot(true);
    timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timer, &QTimer::timeout, context_,
                     [this, id, timer, pending = pending_, job = std::move(job)] {
                         timer->deleteLater();
                         if (!isAlive(*pending)) {
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
