#pragma once

#include "store/Platform.h"

class QThreadPool;

namespace pelwick {

/// Runs device work on a private thread pool, so that blocked device calls never starve other
/// Qt work. Tearing it down waits for the jobs still running (each is bounded by its time-outs).
class QtBackgroundRunner : public BackgroundRunner {
public:
    QtBackgroundRunner();
    ~QtBackgroundRunner() override;

    void run(std::function<void()> job) override;

private:
    QThreadPool* pool_;
};

} // namespace pelwick
