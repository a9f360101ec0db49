#include "ui/ConnectionState.h"

#include "store/FlasherStore.h"

namespace pelwick {

ConnectionState ConnectionState::of(const FlasherStore& store) {
    const auto& identity = store.identity();
    if (!identity) {
        return {false, false, "Not connected"};
    }
    return {true, identity->isSupported15C(), QString::fromStdString(identity->name)};
}

std::optional<std::string> stepDetail(const FlasherStore& store, WizardStep step) {
    const auto detail = store.completionDetail(step);
    // Without a connected chip the store would still say "SAM-BA connected" here, which the
    // header contradicts after a failure has dropped the connection.
    if (detail && step == WizardStep::programmingMode && !store.identity()) {
        return "Not connected";
    }
    return detail;
}

} // namespace pelwick
