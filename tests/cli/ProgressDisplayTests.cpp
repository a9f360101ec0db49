#include "ProgressDisplay.h"

#include <gtest/gtest.h>
#include <sstream>

namespace pelwick {
namespace {

using namespace std::chrono_literals;

TEST(ProgressDisplay, RedrawsInPlaceAtMostTwentyTimesASecondAndAlwaysAtTheEnd) {
    std::ostringstream out;
    MonotonicClock::time_point now{};
    ProgressDisplay display(
        out, ProgressDisplay::Style::bar, [&] { return now; }, [] { return 100; });
    display.page(FlashPageWrite{0x4000, 0, 224, {}});
    display.update(1 / 224.0, FlashProgressPhase::writing);
    const std::string first =
        "\rWriting   [------------------------------]   0%  0.5/112.0 KiB  page 1 of 224\x1b[K";
    EXPECT_EQ(out.str(), first);
    // Values within 50 ms of the last drawing are skipped, except the final one.
    now += 20ms;
    display.update(112 / 224.0, FlashProgressPhase::writing);
    EXPECT_EQ(out.str(), first);
    // A note gets a line of its own, and the bar goes on below it.
    display.note("Going on at the standard pace.");
    EXPECT_TRUE(out.str().starts_with(first + "\nGoing on at the standard pace.\n\rWriting   ["))
        << out.str();
    display.page(FlashPageWrite{0x4000 + 223 * 512, 223, 224, {}});
    display.update(1.0, FlashProgressPhase::writing);
    EXPECT_TRUE(out.str().ends_with("] 100%  112.0/112.0 KiB  page 224 of 224\x1b[K"));
}

} // namespace
} // namespace pelwick
