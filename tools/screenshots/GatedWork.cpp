#include "screenshots/GatedWork.h"

namespace pelwick::screenshots {

GatedWork::~GatedWork() {
    releaseGate();
    std::vector<std::thread> threads;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        threads.swap(threads_);
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
}

void GatedWork::run(std::function<void()> job) {
    std::lock_guard<std::mutex> guard(mutex_);
    ++active_;
    threads_.emplace_back([this, job = std::move(job)] {
        job();
        std::lock_guard<std::mutex> done(mutex_);
        --active_;
        changed_.notify_all();
    });
}

void GatedWork::waitQuiet() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return active_ == held_; });
}

void GatedWork::armGate(char command, int count) {
    std::lock_guard<std::mutex> guard(mutex_);
    gateCommand_ = command;
    gateRemaining_ = count;
}

void GatedWork::releaseGate() {
    std::lock_guard<std::mutex> guard(mutex_);
    gateCommand_ = 0;
    ++generation_;
    held_ = 0; // the released jobs count as running again
    changed_.notify_all();
}

bool GatedWork::gateHolds() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return held_ > 0;
}

void GatedWork::sawCommand(char command) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (gateCommand_ == 0 || command != gateCommand_ || --gateRemaining_ > 0) {
        return;
    }
    ++held_;
    changed_.notify_all();
    const unsigned heldIn = generation_;
    changed_.wait(lock, [this, heldIn] { return generation_ != heldIn; });
}

void GatedSimulator::write(ByteView data) {
    // A command is a short text ending in '#'; payload bytes are never counted.
    if (!data.empty() && data.size() < 32 && data.back() == '#') {
        work_->sawCommand(char(data.front()));
    }
    SimulatedCalculatorTransport::write(data);
}

} // namespace pelwick::screenshots
