#pragma once

#include "store/Platform.h"

#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace pelwick::testing {

/// Runs each job at once on a thread of its own, or holds it back until the test releases it (to
/// play a device call that answers too late). `waitIdle` joins every started job. With `oneByOne`
/// a started job runs to its end before `run` returns, so that a run is the same every time.
class FakeBackgroundRunner : public BackgroundRunner {
public:
    ~FakeBackgroundRunner() override { waitIdle(); }

    void run(std::function<void()> job) override {
        std::unique_lock<std::mutex> lock(mutex_);
        ++submitted_;
        if (holdNext_ > 0) {
            --holdNext_;
            held_.push_back(std::move(job));
            return;
        }
        startLocked(std::move(job), lock);
    }

    /// The next `count` jobs submitted are held instead of started (0: none is).
    void holdNextJobs(int count = 1) {
        std::lock_guard<std::mutex> guard(mutex_);
        holdNext_ = count;
    }

    std::size_t heldCount() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return held_.size();
    }

    /// Starts the held job at `index` (0: the oldest); false when there is none.
    bool releaseHeld(std::size_t index = 0) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (index >= held_.size()) {
            return false;
        }
        auto job = std::move(held_[index]);
        held_.erase(held_.begin() + static_cast<std::ptrdiff_t>(index));
        startLocked(std::move(job), lock);
        return true;
    }

    void setOneByOne(bool oneByOne) {
        std::lock_guard<std::mutex> guard(mutex_);
        oneByOne_ = oneByOne;
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

private:
    void startLocked(std::function<void()> job, std::unique_lock<std::mutex>& lock) {
        std::thread thread(std::move(job));
        if (!oneByOne_) {
            threads_.push_back(std::move(thread));
            return;
        }
        lock.unlock();
        thread.join();
    }

    mutable std::mutex mutex_;
    std::vector<std::thread> threads_;
    std::deque<std::function<void()>> held_;
    int holdNext_ = 0;
    bool oneByOne_ = false;
    std::size_t submitted_ = 0;
};

} // namespace pelwick::testing
