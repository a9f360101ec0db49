#pragma once

#include "sim/SimulatedMonitor.h"
#include "support/CortexM4Target.h"

#include <cstdint>
#include <vector>

namespace pelwick::testing {

// A calculator whose SAM-BA monitor talks to an emulated ATSAM4LC2C: the monitor's command
// handling is the simulated calculator's, but memory and registers are a CortexM4Target's, and a
// go command executes the uploaded code on the emulated CPU.
//
// - "w"/"R" read RAM, flash content and registers as the monitor does.
// - "S"/"W" write RAM; a "W" to a register is a word write the flash controller acts on (FCMD).
//   Writes into the flash address range never change the flash content: on the chip they land in
//   the controller's page buffer, so only the controller (driven by code) can program flash.
// - "G<address>#" calls the entry in word 1 of the image at <address> with the monitor's stack,
//   registers and return address, for at most the instruction budget.
//
// Code that does not come back to the monitor with its stack, callee-saved registers, stack frame
// and interrupt mask intact leaves a hung chip: from then on no code runs and nothing is stored, so
// the host never sees the applet finish.
class EmulatedCalculator : public SimulatedMonitor {
public:
    static constexpr std::uint64_t instructionBudget = 50'000'000;

    EmulatedCalculator() : SimulatedMonitor(0.0) {}

    CortexM4Target& target() { return target_; }

    // One entry per go command, in order.
    const std::vector<CortexM4Target::RunResult>& runs() const { return runs_; }
    // The monitor stopped answering because code it called did not return cleanly.
    bool hung() const { return hung_; }

protected:
    std::uint8_t loadByte(std::uint32_t address) const override;
    void storeByte(std::uint32_t address, std::uint8_t value) override;
    void monitorStoreWord(std::uint32_t address, std::uint32_t value) override;
    void jump(std::uint32_t address) override;

private:
    CortexM4Target target_;
    std::vector<CortexM4Target::RunResult> runs_;
    bool hung_ = false;
};

} // namespace pelwick::testing
