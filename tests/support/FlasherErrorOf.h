#pragma once

#include "device/FlasherError.h"

#include <gtest/gtest.h>

namespace pelwick::testing {

/// The FlasherError that `call` throws; a test failure (and notConnected) when it throws none.
template <typename Call> FlasherError flasherErrorOf(Call&& call) {
    try {
        call();
    } catch (const FlasherError& error) {
        return error;
    }
    ADD_FAILURE() << "expected a FlasherError";
    return FlasherError::notConnected();
}

} // namespace pelwick::testing
