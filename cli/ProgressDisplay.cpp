#include "ProgressDisplay.h"

#include "Console.h"
#include "util/Format.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <numeric>
#include <ostream>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace pelwick {

namespace {

constexpr std::size_t widestBar = 30;
constexpr std::size_t narrowestBar = 10;
// Used when the terminal does not say how wide it is.
constexpr std::size_t assumedWidth = 80;
// Rate and time left are guessed only once the phase has run this long.
constexpr double settlingSeconds = 0.5;

const char* barLabel(FlashProgressPhase phase) {
    switch (phase) {
    case FlashProgressPhase::reading:
        return "Reading  ";
    case FlashProgressPhase::writing:
        return "Writing  ";
    case FlashProgressPhase::verifying:
        return "Verifying";
    }
    return "";
}

const char* phaseLine(FlashProgressPhase phase) {
    switch (phase) {
    case FlashProgressPhase::reading:
        return "Reading firmware…";
    case FlashProgressPhase::writing:
        return "Writing firmware…";
    case FlashProgressPhase::verifying:
        return "Verifying firmware…";
    }
    return "";
}

// "0:07", "12:34", "1:02:03".
std::string clockText(double seconds) {
    const long total = std::lround(std::max(seconds, 0.0));
    if (total >= 3600) {
        return formatString("%ld:%02ld:%02ld", total / 3600, total / 60 % 60, total % 60);
    }
    return formatString("%ld:%02ld", total / 60, total % 60);
}

} // namespace

ProgressDisplay::ProgressDisplay(std::ostream& out, Style style, Clock clock, Width width,
                                 std::size_t totalBytes)
    : out_(out), notes_(out), style_(style), clock_(std::move(clock)), width_(std::move(width)),
      totalBytes_(static_cast<double>(totalBytes)) {}

ProgressDisplay::ProgressDisplay(Console& console)
    : out_(console.err), notes_(console.notes()), trace_(console.deviceTrace()),
      style_(console.quiet                               ? Style::hidden
             : console.errorIsTerminal && !console.trace ? Style::bar
                                                         : Style::lines),
      clock_(MonotonicClock::now), width_(errorTerminalWidth),
      totalBytes_(static_cast<double>(FlashLayout::applicationSize)) {}

ProgressDisplay::~ProgressDisplay() {
    finish();
}

int ProgressDisplay::errorTerminalWidth() {
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0) {
        return 0;
    }
    return size.ws_col;
}

void ProgressDisplay::update(double fraction, FlashProgressPhase phase) {
    if (style_ == Style::hidden) {
        return;
    }
    fraction = std::clamp(fraction, 0.0, 1.0);
    const auto now = clock_();
    if (phase_ != phase || fraction < fraction_) {
        finish();
        phase_ = phase;
        phaseStart_ = now;
        tenthsShown_ = -1;
        lastDraw_.reset();
    }
    fraction_ = fraction;
    if (style_ == Style::lines) {
        const int tenths = static_cast<int>(std::floor(fraction * 10 + 1e-9));
        if (tenths > tenthsShown_) {
            tenthsShown_ = tenths;
            out_ << phaseLine(phase) << ' ' << tenths * 10 << "%\n" << std::flush;
        }
        return;
    }
    const bool due =
        !lastDraw_ || std::chrono::duration<double>(now - *lastDraw_).count() >= redrawInterval;
    if (due || fraction >= 1.0) {
        lastDraw_ = now;
        draw();
    }
}

void ProgressDisplay::page(const FlashPageWrite& page) {
    pageText_ = formatString("page %d of %d", page.pageIndex + 1, page.pageCount);
}

void ProgressDisplay::note(const std::string& line) {
    finish();
    notes_ << line << '\n' << std::flush;
    if (trace_) {
        trace_(line);
    }
    if (style_ == Style::bar && phase_) {
        draw();
    }
}

void ProgressDisplay::finish() {
    if (lineOpen_) {
        out_ << '\n' << std::flush;
        lineOpen_ = false;
    }
}

FlashProgress ProgressDisplay::progress() {
    return [this](double fraction, FlashProgressPhase phase) { update(fraction, phase); };
}

FlashPageProgress ProgressDisplay::pageProgress() {
    return [this](const FlashPageWrite& written) { page(written); };
}

TransferPace::FallbackHandler ProgressDisplay::paceFallback() {
    return [this](const std::string& notice) { note(notice); };
}

void ProgressDisplay::draw() {
    const int width = width_ ? width_() : 0;
    // The last column is left free: a line that fills it wraps on some terminals.
    const std::size_t columns = (width > 1 ? static_cast<std::size_t>(width) : assumedWidth) - 1;
    // Back to the start of the line, and whatever a longer earlier line left there is erased.
    out_ << '\r' << barLine(columns) << "\x1b[K" << std::flush;
    lineOpen_ = true;
}

std::string ProgressDisplay::barLine(std::size_t columns) const {
    const std::string label = barLabel(*phase_);
    const std::string percent =
        formatString("%3d%%", static_cast<int>(std::floor(fraction_ * 100 + 1e-9)));
    const double done = fraction_ * totalBytes_;
    const double elapsed = std::chrono::duration<double>(clock_() - phaseStart_).count();

    // The details in the order they are shown, each with its rank: the most useful are kept
    // when the terminal is too narrow for all of them.
    struct Detail {
        std::string text;
        int rank;
    };
    std::vector<Detail> details{
        {formatString("%.1f/%.1f KiB", done / 1024, totalBytes_ / 1024), 0}};
    if (elapsed >= settlingSeconds && done > 0) {
        const double rate = done / elapsed;
        details.push_back({formatString("%.1f KiB/s", rate / 1024), 2});
        details.push_back({clockText((totalBytes_ - done) / rate) + " left", 1});
    }
    if (!pageText_.empty() && phase_ == FlashProgressPhase::writing) {
        details.push_back({pageText_, 3});
    }

    const std::size_t fixed = label.size() + 4 + percent.size(); // label + " [" + "] " + percent
    if (columns < fixed + narrowestBar) {
        return label.substr(0, label.find(' ')) + " " +
               percent.substr(percent.find_first_not_of(' '));
    }
    std::vector<std::size_t> order(details.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        return details[a].rank < details[b].rank;
    });
    std::vector<bool> shown(details.size(), false);
    std::size_t used = fixed + narrowestBar;
    for (const std::size_t index : order) {
        const std::size_t extra = 2 + details[index].text.size();
        if (used + extra > columns) {
            break;
        }
        used += extra;
        shown[index] = true;
    }
    const std::size_t bar = std::min(widestBar, narrowestBar + (columns - used));
    const auto filled = static_cast<std::size_t>(std::lround(fraction_ * static_cast<double>(bar)));
    std::string line =
        label + " [" + std::string(filled, '#') + std::string(bar - filled, '-') + "] " + percent;
    for (std::size_t i = 0; i < details.size(); ++i) {
        if (shown[i]) {
            line += "  " + details[i].text;
        }
    }
    return line;
}

} // namespace pelwick
