#pragma once

#include "store/Platform.h"

namespace pelwick::testing {

/// Counts the requests to quit the application.
class QuitRecorder : public AppControl {
public:
    void quit() override { ++quitCount; }

    int quitCount = 0;
};

} // namespace pelwick::testing
