#include "samba/TransferPace.h"

#include <algorithm>

namespace pelwick {

TransferPace::TransferPace(double settleSeconds, Mode mode, FallbackHandler onFallback)
    : settleSeconds_(settleSeconds), mode_(settleSeconds > 0 ? mode : Mode::standard),
      onFallback_(std::move(onFallback)) {}

double TransferPace::settleAfterStart() const {
    return standardPauses() ? std::max(settleSeconds_, minimumSettleSeconds) : 0;
}

double TransferPace::pauseAfterBlock() const {
    return standardPauses() ? afterBlockSeconds : 0;
}

double TransferPace::pauseBetweenPolls() const {
    return standardPauses() ? pollIntervalSeconds : 0;
}

void TransferPace::fallBack() {
    if (!isFast()) {
        return;
    }
    fellBack_ = true;
    if (onFallback_) {
        onFallback_(fallbackNotice);
    }
}

} // namespace pelwick
