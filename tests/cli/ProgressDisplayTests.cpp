#include "ProgressDisplay.h"

#include <gtest/gtest.h>
#include <sstream>

namespace pelwick {
namespace {

using namespace std::chrono_literals;

struct FakeClock {
    MonotonicClock::time_point now{};
    ProgressDisplay::Clock function() {
        return [this] { return now; };
    }
};

FlashPageWrite pageNumber(int index) {
    return FlashPageWrite{static_cast<std::uint32_t>(0x4000 + index * 512), index, 224, {}};
}

TEST(ProgressDisplay, PrintsOneLinePerPhaseWhenNotATerminal) {
    std::ostringstream out;
    {
        ProgressDisplay display(out, false);
        for (int k = 1; k <= 28; ++k) {
            display.update(k / 28.0, FlashProgressPhase::reading);
        }
        display.page(pageNumber(0));
        display.update(0.5, FlashProgressPhase::writing);
        display.update(1.0, FlashProgressPhase::writing);
        display.update(0.0, FlashProgressPhase::verifying);
        display.update(0.5, FlashProgressPhase::verifying);
        // A second verification starts over.
        display.update(0.0, FlashProgressPhase::verifying);
    }
    EXPECT_EQ(out.str(), "Reading firmware…\nWriting firmware…\nVerifying firmware…\n"
                         "Verifying firmware…\n");
}

TEST(ProgressDisplay, RedrawsInPlaceAtMostTwentyTimesASecondAndAlwaysAtTheEnd) {
    std::ostringstream out;
    FakeClock clock;
    ProgressDisplay display(out, true, clock.function());

    display.page(pageNumber(0));
    display.update(1 / 224.0, FlashProgressPhase::writing);
    const std::string first = out.str();
    EXPECT_EQ(first, "\rWriting   [------------------------------]   0%  page 1 of 224");

    // Values within 50 ms of the last drawing are skipped, except the final one.
    clock.now += 20ms;
    display.page(pageNumber(1));
    display.update(2 / 224.0, FlashProgressPhase::writing);
    EXPECT_EQ(out.str(), first);
    clock.now += 30ms;
    display.page(pageNumber(111));
    display.update(112 / 224.0, FlashProgressPhase::writing);
    EXPECT_EQ(out.str().substr(first.size()),
              "\rWriting   [###############---------------]  50%  page 112 of 224");
    display.page(pageNumber(223));
    display.update(1.0, FlashProgressPhase::writing);
    EXPECT_TRUE(out.str().ends_with("\rWriting   [##############################] 100%  page 224 "
                                    "of 224"));

    // A new phase ends the line and draws a fresh bar at once.
    clock.now += 1ms;
    display.update(0.0, FlashProgressPhase::verifying);
    EXPECT_TRUE(
        out.str().ends_with("page 224 of 224\n\rVerifying [------------------------------]   0%"))
        << out.str();
    display.finish();
    EXPECT_TRUE(out.str().ends_with("\n"));
    display.finish();
    EXPECT_FALSE(out.str().ends_with("\n\n"));
}

TEST(ProgressDisplay, ANoteGetsALineOfItsOwnAndTheBarGoesOnBelowIt) {
    std::ostringstream out;
    FakeClock clock;
    ProgressDisplay display(out, true, clock.function());
    display.page(pageNumber(111));
    display.update(112 / 224.0, FlashProgressPhase::writing);
    const std::string bar = "\rWriting   [###############---------------]  50%  page 112 of 224";
    display.note("Going on at the standard pace.");
    EXPECT_EQ(out.str(), bar + "\nGoing on at the standard pace.\n" + bar);
}

} // namespace
} // namespace pelwick
