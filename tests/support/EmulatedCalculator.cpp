#include "support/EmulatedCalculator.h"

namespace pelwick::testing {

namespace {

bool inFlash(std::uint32_t address) {
    return address - CortexM4Target::flashBase < CortexM4Target::flashSize;
}

} // namespace

std::uint8_t EmulatedCalculator::loadByte(std::uint32_t address) const {
    return target_.readByte(address);
}

void EmulatedCalculator::storeByte(std::uint32_t address, std::uint8_t value) {
    if (hung_ || inFlash(address)) {
        return;
    }
    target_.writeByte(address, value);
}

void EmulatedCalculator::monitorStoreWord(std::uint32_t address, std::uint32_t value) {
    if (hung_ || inFlash(address)) {
        return;
    }
    target_.writeWord(address, value);
}

void EmulatedCalculator::jump(std::uint32_t address) {
    if (hung_) {
        return;
    }
    const std::uint32_t entry = target_.readWord(address + 4);
    const CortexM4Target::RunResult& run =
        runs_.emplace_back(target_.call(entry, instructionBudget));
    hung_ = !(run.returned && run.stackPointerRestored && run.calleeSavedRestored &&
              run.monitorFrameIntact && run.interruptMaskRestored);
}

} // namespace pelwick::testing
