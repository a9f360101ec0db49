#pragma once

#include <array>
#include <optional>
#include <string>

namespace pelwick {

/// The seven steps of the single-calculator wizard, in order; the raw value is the position.
enum class WizardStep : int {
    cable = 0,
    programmingMode = 1,
    backup = 2,
    firmware = 3,
    flash = 4,
    finish = 5,
    checksum = 6,
};

inline constexpr int wizardStepCount = 7;

/// The step number shown to the user: raw value + 1.
int wizardStepNumber(WizardStep step);

/// The step's title ("Restart" for `finish`).
std::string wizardStepTitle(WizardStep step);

/// The seven steps in order.
const std::array<WizardStep, wizardStepCount>& allWizardSteps();

/// The step with this raw value, or none outside 0…6.
std::optional<WizardStep> wizardStepFromRaw(int raw);

/// Where the user is in the wizard and which step results have been obtained; decides from that
/// alone whether Back and Continue are allowed.
struct WizardState {
    WizardStep step = WizardStep::cable;
    /// A calculator is connected and identified as a supported chip.
    bool identitySupported = false;
    /// The backup is done or the user chose to skip it.
    bool backupResolved = false;
    /// A firmware file has been chosen and accepted.
    bool firmwareOK = false;
    /// Writing and verifying the firmware succeeded.
    bool flashSucceeded = false;
    /// An operation is running; navigation is frozen.
    bool isBusy = false;

    bool canGoBack() const;
    bool canAdvance() const;

    /// Moves to the next step when `canAdvance()`; changes no flag.
    void advance();
    /// Moves to the previous step when `canGoBack()`; resets no flag.
    void goBack();

    /// `step` lies before the current step.
    bool isComplete(WizardStep step) const;
    /// `step` lies after the current step.
    bool isUpcoming(WizardStep step) const;

    bool operator==(const WizardState&) const = default;
};

} // namespace pelwick
