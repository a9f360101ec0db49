#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace pelwick {

/// A one-shot continuation guarded by a lock, so that the first of two racing deliverers (the
/// worker doing a device call and its watchdog) wins and the other's value is dropped.
template <typename T> class ResumeOnce {
public:
    using Continuation = std::function<void(T)>;

    explicit ResumeOnce(Continuation continuation) : continuation_(std::move(continuation)) {}

    ResumeOnce(const ResumeOnce&) = delete;
    ResumeOnce& operator=(const ResumeOnce&) = delete;

    /// Resumes the waiter with `value` if nobody did before; callable from any thread. Returns
    /// whether this call won (a loser owns whatever its value holds, such as an open connection).
    bool finish(T value) {
        std::optional<Continuation> taken;
        {
            std::lock_guard<std::mutex> guard(lock_);
            taken.swap(continuation_);
        }
        if (!taken) {
            return false;
        }
        (*taken)(std::move(value));
        return true;
    }

private:
    std::mutex lock_;
    std::optional<Continuation> continuation_;
};

} // namespace pelwick
