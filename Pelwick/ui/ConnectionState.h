#pragma once

#include "wizard/WizardState.h"

#include <QString>

#include <optional>
#include <string>

namespace pelwick {

class FlasherStore;

/// The connection as the window shows it, in the header and in the step list alike: derived
/// from the store's connected chip (`identity`) and nothing else, so the two never disagree.
struct ConnectionState {
    bool connected = false;
    bool supported = false;
    /// The chip's name, or "Not connected".
    QString text;

    static ConnectionState of(const FlasherStore& store);
};

/// The line under a finished step of the step list. The programming-mode step shows the
/// connection as it is now; the others show what the store reports for them.
std::optional<std::string> stepDetail(const FlasherStore& store, WizardStep step);

} // namespace pelwick
