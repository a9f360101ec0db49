#pragma once

#include "store/Platform.h"

#include <memory>

namespace pelwick {

/// Runs each device job on a thread of its own, so that a blocked device call never starves other
/// work. Tearing it down waits for the jobs still running (each is bounded by its time-outs).
/// Plain standard threads and locks, so that race checkers see every hand-over.
class ThreadBackgroundRunner : public BackgroundRunner {
public:
    ThreadBackgroundRunner();
    ~ThreadBackgroundRunner() override;

    void run(std::function<void()> job) override;

private:
    struct Jobs;
    std::shared_ptr<Jobs> jobs_;
};

} // namespace pelwick
