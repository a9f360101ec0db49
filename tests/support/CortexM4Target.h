#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

struct uc_struct;

namespace pelwick::testing {

// An ATSAM4LC2C as far as flash programming sees it: a Cortex-M4 (Unicorn) with 128 KiB of flash
// at 0, 32 KiB of RAM at 0x20000000, a model of the FLASHCALW flash controller at 0x400A0000 and
// the identification registers (for the host only: flash code has no use for them).
//
// Flash controller model:
// - CPU reads of the flash range return the flash content; CPU writes to it go to the 512-byte
//   page buffer at (address mod 512). Writing a buffer location twice without CPB in between ANDs
//   the values, so code that skips CPB corrupts what it programs. Page buffer writes must be
//   aligned 32-bit stores; anything else is counted in pageBufferMisuse().
// - FCMD takes key 0xA5 in bits 31-24, PAGEN in 23-8, the command in 5-0. A wrong key, a command
//   the model does not implement (LP, above UP) or a page number past the flash sets PROGE and
//   does nothing. WP ANDs the page buffer into the page, EP fills the page with 0xFF, CPB fills
//   the buffer with 0xFF, UP clears the lock bit of the page's 8 KiB region. WP or EP on a locked
//   page sets LOCKE and changes nothing.
// - After each command FRDY stays clear for setBusyPolls() CPU reads of FSR (default 2), so code
//   must wait for FRDY; a command written while busy is counted in commandsWhileBusy().
// - LOCKE and PROGE are cleared by the CPU's next read of FSR (after it has returned them) and
//   when the next command is written. FSR bits 31-16 mirror the 16 lock bits.
// - FPR reads 0x407: FSZ 7 (128 KiB) with a bit above the field set, so that code must mask it.
// - All lock bits start clear; flash and page buffer start at 0xFF.
//
// Host access (readByte/writeByte) is what the SAM-BA monitor does on the chip: RAM and flash
// content directly, registers as registers. Host reads of registers have no side effects. Host
// byte writes to a register are collected and take effect with afterWordWrite(), which the
// monitor calls after the four bytes of a word write.
class CortexM4Target {
public:
    static constexpr std::uint32_t flashBase = 0x00000000;
    static constexpr std::uint32_t flashSize = 0x20000;
    static constexpr std::uint32_t ramBase = 0x20000000;
    static constexpr std::uint32_t ramSize = 0x8000;
    static constexpr std::uint32_t flashcalwBase = 0x400A0000;
    static constexpr std::uint32_t fcmd = 0x400A0004;
    static constexpr std::uint32_t fsr = 0x400A0008;
    static constexpr std::uint32_t fpr = 0x400A000C;
    static constexpr std::uint32_t chipidCIDR = 0x400E0740;
    static constexpr std::uint32_t chipidEXID = 0x400E0744;
    static constexpr std::uint32_t cpuid = 0xE000ED00;
    static constexpr std::uint32_t cidrValue = 0xAB0A07E0;
    static constexpr std::uint32_t exidValue = 0x0400000F;
    static constexpr std::uint32_t cpuidValue = 0x410FC241;
    static constexpr std::uint32_t pageSize = 512;
    static constexpr std::uint32_t pageCount = flashSize / pageSize;
    static constexpr int lockRegions = 16;
    static constexpr std::uint32_t pagesPerRegion = pageCount / lockRegions;

    static constexpr std::uint32_t fsrFRDY = 0x1;
    static constexpr std::uint32_t fsrLOCKE = 0x4;
    static constexpr std::uint32_t fsrPROGE = 0x8;
    static constexpr std::uint32_t cmdWP = 1, cmdEP = 2, cmdCPB = 3, cmdLP = 4, cmdUP = 5;

    // The stack pointer the monitor calls code with; the 0xF0 bytes above it stand for the
    // monitor's own frame and hold a pattern that call() checks afterwards.
    static constexpr std::uint32_t monitorStackPointer = 0x20007F00;
    static constexpr std::uint32_t monitorFrameEnd = 0x20007FF0;
    // Where called code returns to: a mapped page outside the SAM4L's memories.
    static constexpr std::uint32_t monitorReturnAddress = 0x0FFFF800;

    struct RunResult {
        bool returned = false;              // came back to the monitor's return address
        bool calleeSavedRestored = false;   // r4-r11 as the monitor had them
        bool stackPointerRestored = false;  // SP as the monitor had it
        bool monitorFrameIntact = false;    // nothing above SP was overwritten
        bool interruptMaskRestored = false; // PRIMASK as before the call
        std::string error;                  // Unicorn's error text when the run stopped on a fault
    };

    struct MemoryWrite {
        std::uint32_t address;
        std::uint32_t size;
    };

    struct Command {
        std::uint32_t value;        // the FCMD word as written
        bool interruptsMasked;      // PRIMASK was set when the CPU wrote it
        std::uint32_t stackPointer; // SP when the CPU wrote it (0 for the host)
    };

    CortexM4Target();
    ~CortexM4Target();
    CortexM4Target(const CortexM4Target&) = delete;
    CortexM4Target& operator=(const CortexM4Target&) = delete;

    std::uint8_t readByte(std::uint32_t address) const;
    void writeByte(std::uint32_t address, std::uint8_t value);
    void afterWordWrite(std::uint32_t address, std::uint32_t value);

    // Host conveniences built on the byte access above.
    std::uint32_t readWord(std::uint32_t address) const;
    void writeWord(std::uint32_t address, std::uint32_t value);
    std::vector<std::uint8_t> read(std::uint32_t address, std::size_t length) const;
    void write(std::uint32_t address, std::span<const std::uint8_t> data);

    bool lockBit(int region) const;
    void setLockBit(int region, bool locked);

    // Calls code like the monitor's go command: SP = stackPointer, LR = monitorReturnAddress | 1,
    // r4-r11 preset to known values, PRIMASK as given. Stops when the code returns, faults, or has
    // run instructionBudget instructions, so a runaway shows as returned == false, not a hang.
    RunResult call(std::uint32_t entry, std::uint64_t instructionBudget,
                   std::uint32_t stackPointer = monitorStackPointer, bool interruptsMasked = false);

    // Every CPU store since construction or the last clearCpuWrites(), in order.
    const std::vector<MemoryWrite>& cpuWrites() const { return cpuWrites_; }
    void clearCpuWrites() { cpuWrites_.clear(); }

    // Every FCMD word written by the CPU or the host (right key or not, busy or not), in order.
    const std::vector<Command>& commands() const { return commands_; }
    void clearCommands() { commands_.clear(); }
    int commandsWhileBusy() const { return commandsWhileBusy_; }
    int pageBufferMisuse() const { return pageBufferMisuse_; }

    // Test controls of the controller model.
    void setBusyPolls(std::uint64_t polls) { busyPolls_ = polls; }
    // The next command with this code and page fails with PROGE and changes nothing.
    void failNextCommand(std::uint32_t command, std::uint32_t page) { failNext_ = {command, page}; }

private:
    std::uint32_t registerValue(std::uint32_t address) const;
    // A CPU read of a FLASHCALW register, with its side effects.
    std::uint64_t cpuReadRegister(std::uint64_t offset, unsigned size);
    void executeCommand(std::uint32_t value, bool fromCpu);
    std::uint32_t cpuRegister(int id) const;
    void setCpuRegister(int id, std::uint32_t value);
    void check(int err, const char* what) const;

    uc_struct* uc_ = nullptr;
    std::vector<std::uint8_t> flash_;
    std::array<std::uint8_t, pageSize> pageBuffer_{};
    std::uint16_t locks_ = 0;
    std::uint32_t errors_ = 0;
    std::uint64_t busyPolls_ = 2;
    std::uint64_t busyLeft_ = 0;
    std::optional<std::pair<std::uint32_t, std::uint32_t>> failNext_; // command and page
    // RAM ranges the host wrote since the last call: Unicorn's translated code there is stale.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> dirty_;
    int commandsWhileBusy_ = 0;
    int pageBufferMisuse_ = 0;
    std::vector<Command> commands_;
    std::vector<MemoryWrite> cpuWrites_;
};

} // namespace pelwick::testing
