#include "ui/platform/QtBackgroundRunner.h"

#include <QThreadPool>

namespace pelwick {

namespace {
// Set on the pool's threads while a job runs: a runner released from one of its own jobs must not
// wait for itself.
thread_local bool insideJob = false;
} // namespace

QtBackgroundRunner::QtBackgroundRunner() : pool_(new QThreadPool) {
    // Abandoned connection attempts may still be blocked in a read; leave room beside them.
    pool_->setMaxThreadCount(16);
    pool_->setExpiryTimeout(30000);
}

QtBackgroundRunner::~QtBackgroundRunner() {
    if (insideJob) {
        return; // the pool stays alive with the job that is running; the process is ending it
    }
    pool_->waitForDone();
    delete pool_;
}

void QtBackgroundRunner::run(std::function<void()> job) {
    pool_->start([job = std::move(job)] {
        insideJob = true;
        job();
        insideJob = false;
    });
}

} // namespace pelwick
