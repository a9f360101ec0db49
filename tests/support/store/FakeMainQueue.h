#pragma once

#include "store/Platform.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <utility>

namespace pelwick::testing {

/// A main queue in virtual time. The thread that creates it is the main thread. Posts from any
/// thread wait until the test drains them; delayed jobs run only when the test moves the clock
/// (see FakePlatform::advance), so a 2.5-second watchdog costs no real time.
class FakeMainQueue : public MainQueue {
public:
    FakeMainQueue() : owner_(std::this_thread::get_id()) {}

    void post(std::function<void()> job) override {
        std::lock_guard<std::mutex> guard(mutex_);
        posted_.push_back(std::move(job));
    }

    TimerId postDelayed(double seconds, std::function<void()> job) override {
        requireMainThread();
        const TimerId id = ++lastTimer_;
        timers_.emplace(id, Timer{elapsed_ + std::max(seconds, 0.0), std::move(job)});
        return id;
    }

    void cancel(TimerId id) override {
        requireMainThread();
        timers_.erase(id);
    }

    MonotonicClock::time_point now() const override {
        // The clock starts at its epoch; only differences between its readings matter.
        return MonotonicClock::time_point(std::chrono::duration_cast<MonotonicClock::duration>(
            std::chrono::duration<double>(elapsed_)));
    }

    bool isMainThread() const override { return std::this_thread::get_id() == owner_; }

    /// Runs posted jobs, including the ones they post, until none is left.
    void drain() {
        requireMainThread();
        for (;;) {
            std::function<void()> job;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                if (posted_.empty()) {
                    return;
                }
                job = std::move(posted_.front());
                posted_.pop_front();
            }
            job();
        }
    }

    /// Drops every posted and delayed job unrun.
    void discardPending() {
        requireMainThread();
        const auto timers = std::exchange(timers_, {});
        std::unique_lock<std::mutex> lock(mutex_);
        const auto posted = std::exchange(posted_, {});
        lock.unlock();
        // Destroyed here, outside the lock, in case a job's captures post on their way out.
    }

    bool hasPosts() const {
        std::lock_guard<std::mutex> guard(mutex_);
        return !posted_.empty();
    }

    /// Moves the clock `seconds` ahead, running the delayed jobs due by then in order (the clock
    /// at each one's time), with `settle` (which runs what is due now) before, between and after.
    void advance(double seconds, const std::function<void()>& settle) {
        requireMainThread();
        const double target = elapsed_ + seconds;
        settle();
        for (;;) {
            const auto next =
                std::min_element(timers_.begin(), timers_.end(), [](const auto& a, const auto& b) {
                    return a.second.due < b.second.due;
                });
            if (next == timers_.end() || next->second.due > target) {
                break;
            }
            elapsed_ = std::max(elapsed_, next->second.due);
            auto job = std::move(next->second.job);
            timers_.erase(next);
            job();
            settle();
        }
        elapsed_ = target;
    }

private:
    struct Timer {
        double due;
        std::function<void()> job;
    };

    void requireMainThread() const {
        if (!isMainThread()) {
            throw std::logic_error("FakeMainQueue: main-thread call from another thread");
        }
    }

    const std::thread::id owner_;
    double elapsed_ = 0;
    mutable std::mutex mutex_;
    std::deque<std::function<void()>> posted_;
    std::map<TimerId, Timer> timers_;
    TimerId lastTimer_ = 0;
};

} // namespace pelwick::testing
