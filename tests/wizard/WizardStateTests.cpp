#include "wizard/WizardState.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

using Step = WizardStep;

// Every step with every combination of the four result flags, busy or not: Continue goes on only
// with the one flag its step needs (always from the cable and the restart, never from the
// checksum), Back goes back from every step but the cable, neither while busy, and no move changes
// a flag. The steps before the current one show as complete, those after it as upcoming.
TEST(WizardState, MovesFollowTheTableAndKeepTheFlags) {
    const std::array<bool WizardState::*, 4> flags = {
        &WizardState::identitySupported, &WizardState::backupResolved, &WizardState::firmwareOK,
        &WizardState::flashSucceeded};
    const std::array<bool WizardState::*, 7> gate = {nullptr,  flags[0], flags[1], flags[2],
                                                     flags[3], nullptr,  nullptr};
    for (const Step step : allWizardSteps()) {
        const int raw = static_cast<int>(step);
        for (unsigned mask = 0; mask < 32; ++mask) {
            WizardState state{step, false, false, false, false, (mask & 16) != 0};
            for (std::size_t i = 0; i < flags.size(); ++i) {
                state.*flags[i] = (mask >> i) & 1;
            }
            const bool forward = !state.isBusy && (gate[raw] ? state.*gate[raw] : raw != 6);
            const bool backward = !state.isBusy && raw != 0;
            EXPECT_EQ(state.canAdvance(), forward) << raw << " flags " << mask;
            EXPECT_EQ(state.canGoBack(), backward) << raw << " flags " << mask;

            WizardState moved = state;
            moved.advance();
            WizardState expected = state;
            expected.step = static_cast<Step>(raw + (forward ? 1 : 0));
            EXPECT_EQ(moved, expected) << raw << " flags " << mask;
            moved = state;
            moved.goBack();
            expected.step = static_cast<Step>(raw - (backward ? 1 : 0));
            EXPECT_EQ(moved, expected) << raw << " flags " << mask;
        }
        for (const Step other : allWizardSteps()) {
            EXPECT_EQ(WizardState{step}.isComplete(other), other < step);
            EXPECT_EQ(WizardState{step}.isUpcoming(other), other > step);
        }
    }
}

} // namespace
} // namespace pelwick
