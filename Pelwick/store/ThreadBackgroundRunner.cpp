#include "store/ThreadBackgroundRunner.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace pelwick {

namespace {
// Set on a job's thread while it runs: a runner released from one of its own jobs must not wait
// for itself.
thread_local bool insideJob = false;
} // namespace

// Shared with the job threads, which may outlive a runner released from inside a job.
struct ThreadBackgroundRunner::Jobs {
    std::mutex mutex;
    std::condition_variable finished;
    int running = 0;
};

ThreadBackgroundRunner::ThreadBackgroundRunner() : jobs_(std::make_shared<Jobs>()) {}

ThreadBackgroundRunner::~ThreadBackgroundRunner() {
    if (insideJob) {
        return; // the jobs still running keep their shared state; the process is ending them
    }
    std::unique_lock<std::mutex> lock(jobs_->mutex);
    jobs_->finished.wait(lock, [this] { return jobs_->running == 0; });
}

void ThreadBackgroundRunner::run(std::function<void()> job) {
    {
        std::lock_guard<std::mutex> guard(jobs_->mutex);
        ++jobs_->running;
    }
    std::thread([jobs = jobs_, job = std::move(job)] {
        insideJob = true;
        job();
        insideJob = false;
        std::lock_guard<std::mutex> guard(jobs->mutex);
        --jobs->running;
        jobs->finished.notify_all();
    }).detach();
}

} // namespace pelwick
