#include "ProgressDisplay.h"

#include "util/Format.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>

namespace pelwick {

namespace {

constexpr int barWidth = 30;

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

} // namespace

ProgressDisplay::ProgressDisplay(std::ostream& out, bool interactive, Clock clock)
    : out_(out), interactive_(interactive), clock_(std::move(clock)) {}

ProgressDisplay::~ProgressDisplay() {
    finish();
}

void ProgressDisplay::update(double fraction, FlashProgressPhase phase) {
    fraction = std::clamp(fraction, 0.0, 1.0);
    const bool freshBar = phase_ != phase || fraction < fraction_;
    if (freshBar) {
        finish();
        phase_ = phase;
        lastDraw_.reset();
        if (!interactive_) {
            out_ << phaseLine(phase) << '\n' << std::flush;
        }
    }
    fraction_ = fraction;
    if (!interactive_) {
        return;
    }
    const auto now = clock_();
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
    out_ << line << '\n' << std::flush;
    if (interactive_ && phase_) {
        draw();
    }
}

void ProgressDisplay::finish() {
    if (lineOpen_) {
        out_ << '\n' << std::flush;
        lineOpen_ = false;
        drawnWidth_ = 0;
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
    const int filled = static_cast<int>(std::lround(fraction_ * barWidth));
    std::string line = std::string(barLabel(*phase_)) + " [" + std::string(filled, '#') +
                       std::string(barWidth - filled, '-') + "] " +
                       formatString("%3d%%", static_cast<int>(std::floor(fraction_ * 100)));
    if (!pageText_.empty() && phase_ == FlashProgressPhase::writing) {
        line += "  " + pageText_;
    }
    // Blank out what a longer earlier line left behind.
    const std::size_t width = line.size();
    if (width < drawnWidth_) {
        line += std::string(drawnWidth_ - width, ' ');
    }
    drawnWidth_ = std::max(drawnWidth_, width);
    out_ << '\r' << line << std::flush;
    lineOpen_ = true;
}

} // namespace pelwick
