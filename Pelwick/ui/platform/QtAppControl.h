#pragma once

#include "store/Platform.h"

namespace pelwick {

/// Quits the Qt application: closes its windows (so their tear-down runs) and leaves the event
/// loop.
class QtAppControl : public AppControl {
public:
    void quit() override;
};

} // namespace pelwick
