#include "wizard/WizardState.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

using Step = WizardStep;

TEST(WizardStep, OrderNumbersTitlesAndRawValues) {
    const std::array<Step, 7> order = {Step::cable,    Step::programmingMode, Step::backup,
                                       Step::firmware, Step::flash,           Step::finish,
                                       Step::checksum};
    const std::array<const char*, 7> titles = {"Cable", "Programming mode", "Backup",  "Firmware",
                                               "Flash", "Restart",          "Checksum"};
    EXPECT_EQ(allWizardSteps(), order);
    for (int raw = 0; raw < 7; ++raw) {
        EXPECT_EQ(wizardStepFromRaw(raw), order[raw]);
        EXPECT_EQ(wizardStepNumber(order[raw]), raw + 1);
        EXPECT_EQ(wizardStepTitle(order[raw]), titles[raw]);
    }
    EXPECT_EQ(wizardStepFromRaw(-1), std::nullopt);
    EXPECT_EQ(wizardStepFromRaw(7), std::nullopt);
}

/// Each step with the one flag that lets Continue go on from it (none: a fixed answer).
struct Gate {
    Step step;
    bool WizardState::*flag;
    bool fixed;
};

TEST(WizardState, ContinueFollowsTheTable) {
    const std::array<Gate, 7> table = {{
        {Step::cable, nullptr, true},
        {Step::programmingMode, &WizardState::identitySupported, false},
        {Step::backup, &WizardState::backupResolved, false},
        {Step::firmware, &WizardState::firmwareOK, false},
        {Step::flash, &WizardState::flashSucceeded, false},
        {Step::finish, nullptr, true},
        {Step::checksum, nullptr, false},
    }};
    const std::array<bool WizardState::*, 4> flags = {
        &WizardState::identitySupported, &WizardState::backupResolved, &WizardState::firmwareOK,
        &WizardState::flashSucceeded};
    for (const auto& gate : table) {
        // Every combination of the four flags.
        for (unsigned mask = 0; mask < 16; ++mask) {
            WizardState state;
            state.step = gate.step;
            for (std::size_t i = 0; i < flags.size(); ++i) {
                state.*flags[i] = (mask >> i) & 1;
            }
            const bool expected = gate.flag ? state.*gate.flag : gate.fixed;
            EXPECT_EQ(state.canAdvance(), expected)
                << wizardStepTitle(gate.step) << " flags " << mask;

            WizardState moved = state;
            moved.advance();
            WizardState target = state;
            if (expected) {
                target.step = static_cast<Step>(static_cast<int>(gate.step) + 1);
            }
            EXPECT_EQ(moved, target) << wizardStepTitle(gate.step) << " flags " << mask;
        }
    }
}

TEST(WizardState, GoingBackKeepsFlagsAndStopsAtTheCable) {
    WizardState state{Step::flash, true, true, true, true, false};
    EXPECT_TRUE(state.canGoBack());
    state.goBack();
    EXPECT_EQ(state, (WizardState{Step::firmware, true, true, true, true, false}));
    state.advance();
    EXPECT_EQ(state.step, Step::flash);

    state.step = Step::checksum;
    EXPECT_FALSE(state.canAdvance());
    state.goBack();
    EXPECT_EQ(state.step, Step::finish);

    state = WizardState{Step::programmingMode, false, false, false, false, false};
    state.goBack();
    EXPECT_EQ(state, WizardState{});
    EXPECT_FALSE(state.canGoBack());
    state.goBack();
    EXPECT_EQ(state, WizardState{});
}

TEST(WizardState, BusyFreezesNavigation) {
    for (const Step step : allWizardSteps()) {
        const WizardState busy{step, true, true, true, true, true};
        EXPECT_FALSE(busy.canAdvance()) << wizardStepTitle(step);
        EXPECT_FALSE(busy.canGoBack()) << wizardStepTitle(step);
        WizardState moved = busy;
        moved.advance();
        EXPECT_EQ(moved, busy);
        moved.goBack();
        EXPECT_EQ(moved, busy);
    }
}

TEST(WizardState, CompleteCurrentAndUpcoming) {
    WizardState state;
    state.step = Step::firmware;
    for (const Step step : allWizardSteps()) {
        const int raw = static_cast<int>(step);
        EXPECT_EQ(state.isComplete(step), raw < 3);
        EXPECT_EQ(state.isUpcoming(step), raw > 3);
    }
}

} // namespace
} // namespace pelwick
