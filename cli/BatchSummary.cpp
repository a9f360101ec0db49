#include "BatchSummary.h"

#include "util/Format.h"

#include <algorithm>

namespace pelwick {

int BatchSummary::done() const {
    return static_cast<int>(std::count_if(
        units.begin(), units.end(), [](const BatchUnitReport& unit) { return unit.succeeded; }));
}

int BatchSummary::failed() const {
    return static_cast<int>(units.size()) - done();
}

std::string BatchSummary::line() const {
    return formatString("Batch finished: %d done, %d failed, total time %.1f s.", done(), failed(),
                        seconds);
}

} // namespace pelwick
