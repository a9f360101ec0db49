#pragma once

#include <functional>
#include <string>

namespace pelwick {

/// The pauses of a flash, decided in one place. The standard pace suits serial lines without flow
/// control, where a command sent while the chip is still busy may be lost: with a settle time it
/// waits that long (at least 0.1 s) after each start of the flash applet, 20 ms after each block
/// it sends and a second between two polls of the applet; without one it never waits.
///
/// The fast pace makes none of those pauses while the calculator keeps up. At the first sign that
/// it does not (a poll whose reply is late or lost, a garbled poll or identification, polls used up
/// before the applet is done) it falls back to the standard pace for the rest of the operation,
/// and says so once. A fallback repeats nothing; it changes only the pauses that follow. (Every
/// other reply that is late or garbled ends the operation with its error.)
class TransferPace {
public:
    enum class Mode { standard, fast };

    /// Hears `fallbackNotice` when a fast pace falls back.
    using FallbackHandler = std::function<void(const std::string& notice)>;

    static constexpr double minimumSettleSeconds = 0.1;
    static constexpr double afterBlockSeconds = 0.02;
    static constexpr double pollIntervalSeconds = 1.0;
    static constexpr const char* fallbackNotice =
        "The calculator did not keep up with fast transfer; going on at the standard pace.";

    /// A fast pace with no settle time is the standard one: there are no pauses to leave out.
    explicit TransferPace(double settleSeconds, Mode mode = Mode::standard,
                          FallbackHandler onFallback = {});

    Mode mode() const { return mode_; }
    /// Fast, and not fallen back.
    bool isFast() const { return mode_ == Mode::fast && !fellBack_; }
    bool fellBack() const { return fellBack_; }

    /// The settle time of the standard pace.
    double settleSeconds() const { return settleSeconds_; }
    void setSettleSeconds(double seconds) { settleSeconds_ = seconds; }

    /// Seconds to wait after starting the applet, after each block sent, and between two polls
    /// (0: none).
    double settleAfterStart() const;
    double pauseAfterBlock() const;
    double pauseBetweenPolls() const;

    /// The calculator did not keep up: the standard pauses from now on. Tells the handler the
    /// first time; does nothing on a standard pace.
    void fallBack();

private:
    bool standardPauses() const { return !isFast() && settleSeconds_ > 0; }

    double settleSeconds_;
    Mode mode_;
    FallbackHandler onFallback_;
    bool fellBack_ = false;
};

} // namespace pelwick
