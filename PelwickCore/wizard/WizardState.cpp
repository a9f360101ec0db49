#include "wizard/WizardState.h"

namespace pelwick {

namespace {

int raw(WizardStep step) {
    return static_cast<int>(step);
}

} // namespace

int wizardStepNumber(WizardStep step) {
    return raw(step) + 1;
}

std::string wizardStepTitle(WizardStep step) {
    switch (step) {
    case WizardStep::cable:
        return "Cable";
    case WizardStep::programmingMode:
        return "Programming mode";
    case WizardStep::backup:
        return "Backup";
    case WizardStep::firmware:
        return "Firmware";
    case WizardStep::flash:
        return "Flash";
    case WizardStep::finish:
        return "Restart";
    case WizardStep::checksum:
        return "Checksum";
    }
    return {};
}

const std::array<WizardStep, wizardStepCount>& allWizardSteps() {
    static constexpr std::array<WizardStep, wizardStepCount> steps = {
        WizardStep::cable, WizardStep::programmingMode, WizardStep::backup,  WizardStep::firmware,
        WizardStep::flash, WizardStep::finish,          WizardStep::checksum};
    return steps;
}

std::optional<WizardStep> wizardStepFromRaw(int value) {
    if (value < 0 || value >= wizardStepCount) {
        return std::nullopt;
    }
    return static_cast<WizardStep>(value);
}

bool WizardState::canGoBack() const {
    return step != WizardStep::cable && !isBusy;
}

bool WizardState::canAdvance() const {
    if (isBusy) {
        return false;
    }
    switch (step) {
    case WizardStep::cable:
        return true;
    case WizardStep::programmingMode:
        return identitySupported;
    case WizardStep::backup:
        return backupResolved;
    case WizardStep::firmware:
        return firmwareOK;
    case WizardStep::flash:
        return flashSucceeded;
    case WizardStep::finish:
        return true;
    case WizardStep::checksum:
        return false;
    }
    return false;
}

void WizardState::advance() {
    if (canAdvance()) {
        step = static_cast<WizardStep>(raw(step) + 1);
    }
}

void WizardState::goBack() {
    if (canGoBack()) {
        step = static_cast<WizardStep>(raw(step) - 1);
    }
}

bool WizardState::isComplete(WizardStep other) const {
    return raw(other) < raw(step);
}

bool WizardState::isUpcoming(WizardStep other) const {
    return raw(other) > raw(step);
}

} // namespace pelwick
