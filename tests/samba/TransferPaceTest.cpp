#include "samba/TransferPace.h"

#include <gtest/gtest.h>

#include <vector>

namespace pelwick {
namespace {

using Mode = TransferPace::Mode;

TEST(TransferPace, PausesFollowTheSettleTimeUntilAFastPaceFallsBack) {
    struct Case {
        double settle;
        Mode mode;
        bool fallBack;
        double afterStart, afterBlock, betweenPolls;
        int notices;
    };
    for (const Case& c : {
             Case{0.01, Mode::standard, false, 0.1, 0.02, 1.0, 0},
             Case{0.5, Mode::standard, true, 0.5, 0.02, 1.0, 0},
             Case{0.0, Mode::standard, false, 0, 0, 0, 0},
             Case{0.01, Mode::fast, false, 0, 0, 0, 0},
             Case{0.01, Mode::fast, true, 0.1, 0.02, 1.0, 1},
             // No settle time: nothing to leave out, so nothing to fall back to.
             Case{0.0, Mode::fast, true, 0, 0, 0, 0},
         }) {
        int notices = 0;
        TransferPace pace(c.settle, c.mode, [&](const std::string&) { ++notices; });
        if (c.fallBack) {
            pace.fallBack();
            pace.fallBack();
        }
        const std::string label = std::to_string(c.settle) +
                                  (c.mode == Mode::fast ? " fast" : " standard") +
                                  (c.fallBack ? " fallen back" : "");
        EXPECT_DOUBLE_EQ(pace.settleAfterStart(), c.afterStart) << label;
        EXPECT_DOUBLE_EQ(pace.pauseAfterBlock(), c.afterBlock) << label;
        EXPECT_DOUBLE_EQ(pace.pauseBetweenPolls(), c.betweenPolls) << label;
        EXPECT_EQ(notices, c.notices) << label;
    }
}

} // namespace
} // namespace pelwick
