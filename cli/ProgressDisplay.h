#pragma once

#include "flasher/Flasher.h"
#include "util/Clock.h"

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace pelwick {

/// Shows the progress of one device operation. On a terminal: a bar per phase (reading, writing
/// with the page being written, verifying), redrawn in place at most about 20 times a second and
/// always for its last value. Elsewhere: one line when a phase begins. Callbacks must come on one
/// thread.
class ProgressDisplay {
public:
    using Clock = std::function<MonotonicClock::time_point()>;

    /// Shortest time between two redraws of a bar.
    static constexpr double redrawInterval = 0.05;

    ProgressDisplay(std::ostream& out, bool interactive, Clock clock = MonotonicClock::now);
    /// Ends an open bar's line, so that what follows starts on a line of its own.
    ~ProgressDisplay();

    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    /// A new phase, or a fraction lower than the last, starts a fresh bar.
    void update(double fraction, FlashProgressPhase phase);
    /// Remembers the page being written; shown with the next progress value.
    void page(const FlashPageWrite& page);
    /// Shows `line` on a line of its own; a bar in progress goes on below it.
    void note(const std::string& line);
    /// Ends an open bar's line.
    void finish();

    /// Callbacks for the Flasher operations, bound to this display.
    FlashProgress progress();
    FlashPageProgress pageProgress();
    /// Notes what a write says when it falls back to the standard pace.
    TransferPace::FallbackHandler paceFallback();

private:
    void draw();

    std::ostream& out_;
    bool interactive_;
    Clock clock_;
    std::optional<FlashProgressPhase> phase_;
    double fraction_ = 0;
    std::string pageText_;
    bool lineOpen_ = false;
    std::size_t drawnWidth_ = 0;
    std::optional<MonotonicClock::time_point> lastDraw_;
};

} // namespace pelwick
