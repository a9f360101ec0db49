#pragma once

#include "store/Platform.h"

#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace pelwick::testing {

/// Runs each job at once on a thread of its own, or holds it back until the test releases it (to
/// play a device call that answers too late). `waitIdle` joins every started job.
class FakeBackgroundRunner : public BackgroundRunner {
public:
    ~FakeBackgroundRunner() override { waitIdle(); }

    void run(std::function<void()> job) override {
        std::lock_guard<std::mutex> guard(mutex_);
        ++submitted_;
        if (holdNext_ > 0) {
            --holdNext_;
            held_.push_back(std::move(job));
            return;
        }
        startLocked(std::move(job));
    }

    /// The next `count` jobs submitted are held instead of started.
    void holdNextJobs(int count = 1) {
        std::lock_guard<std::mutex> guard(mutex_);
        holdNext_ += count;
    }

    std::size_t heldCount() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return held_.size();
    }

    /// Starts the oldest held job; false when none is held.
    bool releaseHeld() {
        std::lock_guard<std::mutex> guard(mutex_);
        if (held_.empty()) {
            return false;
        }
        startLocked(std::move(held_.front()));
        held_.pop_front();
        return true;
    }

    /// Joins every started job, including those started meanwhile.
    void waitIdle() {
        for (;;) {
            std::vector<std::thread> running;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                running.swap(threads_);
            }
            if (running.empty()) {
                return;
            }
            for (std::thread& thread : running) {
                thread.join();
            }
        }
    }

    std::size_t submittedCount() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return submitted_;
    }

    /// The threads jobs ran on.
    std::set<std::thread::id> jobThreads() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return jobThreads_;
    }

private:
    void startLocked(std::function<void()> job) {
        threads_.emplace_back([this, job = std::move(job)] {
            {
                std::lock_guard<std::mutex> guard(mutex_);
                jobThreads_.insert(std::this_thread::get_id());
            }
            job();
        });
    }

    mutable std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> held_;
    int holdNext_ = 0;
    std::size_t submitted_ = 0;
    std::set<std::thread::id> jobThreads_;
};

} // namespace pelwick::testing
