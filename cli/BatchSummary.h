#pragma once

#include "BatchUnitReport.h"

#include <optional>
#include <string>
#include <vector>

namespace pelwick {

/// The outcome of a whole batch: every unit, in the order of their numbers, and how long it ran.
struct BatchSummary {
    std::vector<BatchUnitReport> units;
    double seconds = 0;
    /// Why the batch ended early, when the ports could no longer be listed.
    std::optional<std::string> listingError;

    int done() const;
    int failed() const;
    /// True when no unit failed and the batch was not cut short.
    bool succeeded() const { return failed() == 0 && !listingError; }

    /// "Batch finished: 2 done, 1 failed, total time 12.3 s."
    std::string line() const;
};

} // namespace pelwick
