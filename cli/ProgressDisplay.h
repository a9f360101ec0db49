#pragma once

#include "flash/FlashLayout.h"
#include "flasher/Flasher.h"
#include "util/Clock.h"

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>

namespace pelwick {

struct Console;

/// Shows the progress of one device operation. As a bar on a terminal: per phase (reading,
/// writing, verifying) the bytes done, the rate, the time left and the page being written, fitted
/// to the terminal's width at every redraw (so a resized terminal is followed), redrawn in place
/// at most about 20 times a second and always for its last value. As lines elsewhere: one line per
/// tenth of a phase ("Writing firmware… 40%"). Callbacks must come on one thread.
class ProgressDisplay {
public:
    enum class Style { hidden, lines, bar };
    using Clock = std::function<MonotonicClock::time_point()>;
    /// The terminal's width in columns; 0 when unknown.
    using Width = std::function<int()>;

    /// Shortest time between two redraws of a bar.
    static constexpr double redrawInterval = 0.05;

    ProgressDisplay(std::ostream& out, Style style, Clock clock = MonotonicClock::now,
                    Width width = errorTerminalWidth,
                    std::size_t totalBytes = FlashLayout::applicationSize);
    /// On the console's `err`: hidden with --quiet, a bar on a terminal (unless a trace is written
    /// there too), lines otherwise. Notes go to the console's notes and its trace.
    explicit ProgressDisplay(Console& console);
    /// Ends an open bar's line, so that what follows starts on a line of its own.
    ~ProgressDisplay();

    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

    /// A new phase, or a fraction lower than the last, starts afresh.
    void update(double fraction, FlashProgressPhase phase);
    /// Remembers the page being written; shown with the next progress value.
    void page(const FlashPageWrite& page);
    /// Shows `line` on a line of its own among the notes (on the progress stream when the display
    /// was made without a console) and in the trace; a bar in progress goes on below it.
    void note(const std::string& line);
    /// Ends an open bar's line.
    void finish();

    /// Callbacks for the Flasher operations, bound to this display.
    FlashProgress progress();
    FlashPageProgress pageProgress();
    /// Notes what a write says when it falls back to the standard pace.
    TransferPace::FallbackHandler paceFallback();

    /// The width of the terminal on standard error, asked anew at every call; 0 when it is none.
    static int errorTerminalWidth();

private:
    void draw();
    std::string barLine(std::size_t columns) const;

    std::ostream& out_;
    std::ostream& notes_;
    std::function<void(const std::string&)> trace_;
    Style style_;
    Clock clock_;
    Width width_;
    double totalBytes_;
    std::optional<FlashProgressPhase> phase_;
    double fraction_ = 0;
    MonotonicClock::time_point phaseStart_{};
    int tenthsShown_ = -1;
    std::string pageText_;
    bool lineOpen_ = false;
    std::optional<MonotonicClock::time_point> lastDraw_;
};

} // namespace pelwick
