#include "support/CortexM4Target.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <stdexcept>

namespace pelwick::testing {

namespace {

constexpr std::uint32_t mmioWindow = 0x1000; // Unicorn maps in 4 KiB units
constexpr std::uint32_t chipidWindow = 0x400E0000;
constexpr std::uint32_t systemWindow = 0xE000E000;
constexpr std::uint32_t monitorPage = CortexM4Target::monitorReturnAddress & ~(mmioWindow - 1);
constexpr std::uint32_t keyMask = 0xFF000000;
constexpr std::uint32_t commandKey = 0xA5000000;

// Values r4-r11 hold when the monitor calls code, so that a clobbered register shows.
constexpr std::uint32_t calleeSavedPattern(int reg) {
    return 0xC0DE0000u | static_cast<std::uint32_t>(reg) * 0x1111u;
}

constexpr std::uint32_t framePattern(std::uint32_t address) {
    return 0x5AFE0000u ^ address;
}

bool inRange(std::uint32_t address, std::uint32_t base, std::uint32_t size) {
    return address >= base && address - base < size;
}

std::uint64_t extract(std::uint32_t word, std::uint64_t offset, unsigned size) {
    std::uint64_t value = word >> (8 * (offset & 3));
    return size >= 4 ? value : value & ((1ull << (8 * size)) - 1);
}

void recordWrite(uc_engine*, uc_mem_type, std::uint64_t address, int size, std::int64_t,
                 void* self) {
    auto* writes = static_cast<std::vector<CortexM4Target::MemoryWrite>*>(self);
    writes->push_back({static_cast<std::uint32_t>(address), static_cast<std::uint32_t>(size)});
}

void countInstruction(uc_engine*, std::uint64_t, std::uint32_t, void* counter) {
    ++*static_cast<std::uint64_t*>(counter);
}

} // namespace

CortexM4Target::CortexM4Target() : flash_(flashSize, 0xFF) {
    pageBuffer_.fill(0xFF);
    // UC_MODE_MCLASS would give a Cortex-M33 whatever model is set; Thumb plus the model gives
    // the M4.
    check(uc_open(UC_ARCH_ARM, uc_mode(UC_MODE_THUMB), &uc_), "uc_open");
    try {
        setUp();
    } catch (...) {
        uc_close(uc_);
        throw;
    }
}

void CortexM4Target::setUp() {
    check(uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M4), "set CPU model");

    check(uc_mmio_map(uc_, flashBase, flashSize, flashRead, this, flashWrite, this), "map flash");
    check(uc_mem_map(uc_, ramBase, ramSize, UC_PROT_ALL), "map RAM");
    check(uc_mmio_map(uc_, flashcalwBase, mmioWindow, controllerRead, this, controllerWrite, this),
          "map FLASHCALW");
    check(uc_mmio_map(uc_, chipidWindow, mmioWindow, chipidRead, this, ignoreWrite, this),
          "map CHIPID");
    check(uc_mmio_map(uc_, systemWindow, mmioWindow, systemRead, this, ignoreWrite, this),
          "map system control space");

    // The monitor's side of a call: a page whose every halfword is "b ." so that a return that
    // misses the stop address spins until the budget ends instead of running off.
    check(uc_mem_map(uc_, monitorPage, mmioWindow, UC_PROT_READ | UC_PROT_EXEC), "map monitor");
    std::vector<std::uint8_t> spin(mmioWindow);
    for (std::size_t i = 0; i < spin.size(); i += 2) {
        spin[i] = 0xFE;
        spin[i + 1] = 0xE7;
    }
    check(uc_mem_write(uc_, monitorPage, spin.data(), spin.size()), "fill monitor page");

    uc_hook hook;
    check(uc_hook_add(uc_, &hook, UC_HOOK_MEM_WRITE, reinterpret_cast<void*>(recordWrite),
                      &cpuWrites_, 1, 0),
          "add write hook");
    check(uc_hook_add(uc_, &hook, UC_HOOK_CODE, reinterpret_cast<void*>(countInstruction),
                      &instructions_, 1, 0),
          "add instruction counter");
}

CortexM4Target::~CortexM4Target() {
    if (uc_)
        uc_close(uc_);
}

void CortexM4Target::check(int err, const char* what) const {
    if (err != UC_ERR_OK)
        throw std::runtime_error(std::string("Unicorn: ") + what + ": " +
                                 uc_strerror(static_cast<uc_err>(err)));
}

// Host access --------------------------------------------------------------------------------

std::uint8_t CortexM4Target::readByte(std::uint32_t address) const {
    if (inRange(address, ramBase, ramSize)) {
        std::uint8_t value = 0;
        check(uc_mem_read(uc_, address, &value, 1), "read RAM");
        return value;
    }
    if (inRange(address, flashBase, flashSize))
        return flash_[address - flashBase];
    return static_cast<std::uint8_t>(extract(registerValue(address & ~3u), address, 1));
}

void CortexM4Target::writeByte(std::uint32_t address, std::uint8_t value) {
    if (inRange(address, ramBase, ramSize)) {
        check(uc_mem_write(uc_, address, &value, 1), "write RAM");
        // Host writes come in runs (a mailbox word, a buffer), so ranges merge well.
        if (!dirty_.empty() && address >= dirty_.back().first && address <= dirty_.back().second)
            dirty_.back().second = std::max(dirty_.back().second, address + 1);
        else
            dirty_.emplace_back(address, address + 1);
    } else if (inRange(address, flashBase, flashSize)) {
        flash_[address - flashBase] = value;
    }
    // Register bytes take effect as a whole word in afterWordWrite().
}

void CortexM4Target::afterWordWrite(std::uint32_t address, std::uint32_t value) {
    if (inRange(address, flashcalwBase, mmioWindow))
        writeRegister(address & ~3u, value, false);
}

std::uint32_t CortexM4Target::readWord(std::uint32_t address) const {
    std::uint32_t value = 0;
    for (std::uint32_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(readByte(address + i)) << (8 * i);
    return value;
}

void CortexM4Target::writeWord(std::uint32_t address, std::uint32_t value) {
    for (std::uint32_t i = 0; i < 4; ++i)
        writeByte(address + i, static_cast<std::uint8_t>(value >> (8 * i)));
    afterWordWrite(address, value);
}

std::vector<std::uint8_t> CortexM4Target::read(std::uint32_t address, std::size_t length) const {
    std::vector<std::uint8_t> out(length);
    for (std::size_t i = 0; i < length; ++i)
        out[i] = readByte(address + static_cast<std::uint32_t>(i));
    return out;
}

void CortexM4Target::write(std::uint32_t address, std::span<const std::uint8_t> data) {
    for (std::size_t i = 0; i < data.size(); ++i)
        writeByte(address + static_cast<std::uint32_t>(i), data[i]);
}

bool CortexM4Target::lockBit(int region) const {
    return region >= 0 && region < lockRegions && (locks_ >> region) & 1u;
}

void CortexM4Target::setLockBit(int region, bool locked) {
    if (region < 0 || region >= lockRegions)
        throw std::out_of_range("lock region " + std::to_string(region));
    const auto bit = static_cast<std::uint16_t>(1u << region);
    locks_ = static_cast<std::uint16_t>(locked ? locks_ | bit : locks_ & ~bit);
}

void CortexM4Target::failNextCommand(std::uint32_t command, std::uint32_t page) {
    failArmed_ = true;
    failCommand_ = command;
    failPage_ = page;
}

// Running code ---------------------------------------------------------------------------------

CortexM4Target::RunResult CortexM4Target::call(std::uint32_t entry,
                                               std::uint64_t instructionBudget) {
    return call(entry, instructionBudget, monitorStackPointer, false);
}

CortexM4Target::RunResult CortexM4Target::call(std::uint32_t entry, std::uint64_t instructionBudget,
                                               std::uint32_t stackPointer, bool interruptsMasked) {
    // Unicorn keeps code it has translated even when the host overwrites it: drop what the host
    // wrote over, and only that, so that the code that stays is not translated again.
    for (const auto& [begin, end] : dirty_)
        check(uc_ctl_remove_cache(uc_, begin, end), "drop translated code");
    dirty_.clear();
    for (std::uint32_t a = stackPointer; a < monitorFrameEnd; a += 4) {
        const std::uint32_t word = framePattern(a);
        check(uc_mem_write(uc_, a, &word, 4), "write monitor frame");
    }

    std::uint32_t value = 0;
    for (int reg = 0; reg <= 12; ++reg) {
        value = calleeSavedPattern(reg);
        check(uc_reg_write(uc_, UC_ARM_REG_R0 + reg, &value), "set register");
    }
    value = stackPointer;
    check(uc_reg_write(uc_, UC_ARM_REG_SP, &value), "set SP");
    value = monitorReturnAddress | 1u;
    check(uc_reg_write(uc_, UC_ARM_REG_LR, &value), "set LR");
    const std::uint32_t primask = interruptsMasked ? 1 : 0;
    value = primask;
    check(uc_reg_write(uc_, UC_ARM_REG_PRIMASK, &value), "set PRIMASK");

    RunResult result;
    instructions_ = 0;
    const uc_err err = uc_emu_start(uc_, entry | 1u, monitorReturnAddress, 0, instructionBudget);
    result.instructions = instructions_;
    if (err != UC_ERR_OK)
        result.error = uc_strerror(err);

    std::uint32_t pc = 0;
    check(uc_reg_read(uc_, UC_ARM_REG_PC, &pc), "read PC");
    result.returned = err == UC_ERR_OK && pc == monitorReturnAddress;

    result.calleeSavedRestored = true;
    for (int reg = 4; reg <= 11; ++reg) {
        check(uc_reg_read(uc_, UC_ARM_REG_R0 + reg, &value), "read register");
        result.calleeSavedRestored = result.calleeSavedRestored && value == calleeSavedPattern(reg);
    }
    check(uc_reg_read(uc_, UC_ARM_REG_SP, &value), "read SP");
    result.stackPointerRestored = value == stackPointer;
    check(uc_reg_read(uc_, UC_ARM_REG_PRIMASK, &value), "read PRIMASK");
    result.interruptMaskRestored = value == primask;

    result.monitorFrameIntact = true;
    for (std::uint32_t a = stackPointer; a < monitorFrameEnd; a += 4) {
        check(uc_mem_read(uc_, a, &value, 4), "read monitor frame");
        result.monitorFrameIntact = result.monitorFrameIntact && value == framePattern(a);
    }
    return result;
}

bool CortexM4Target::interruptsMasked() const {
    std::uint32_t primask = 0;
    check(uc_reg_read(uc_, UC_ARM_REG_PRIMASK, &primask), "read PRIMASK");
    return (primask & 1u) != 0;
}

std::uint32_t CortexM4Target::stackPointer() const {
    std::uint32_t sp = 0;
    check(uc_reg_read(uc_, UC_ARM_REG_SP, &sp), "read SP");
    return sp;
}

// Flash and page buffer ------------------------------------------------------------------------

std::uint64_t CortexM4Target::flashRead(uc_engine*, std::uint64_t offset, unsigned size,
                                        void* self) {
    auto& t = *static_cast<CortexM4Target*>(self);
    std::uint64_t value = 0;
    for (unsigned i = 0; i < size && offset + i < flashSize; ++i)
        value |= static_cast<std::uint64_t>(t.flash_[offset + i]) << (8 * i);
    return value;
}

void CortexM4Target::flashWrite(uc_engine*, std::uint64_t offset, unsigned size,
                                std::uint64_t value, void* self) {
    auto& t = *static_cast<CortexM4Target*>(self);
    if (size != 4 || offset % 4 != 0 || t.busyLeft_ > 0)
        ++t.pageBufferMisuse_;
    for (unsigned i = 0; i < size; ++i)
        t.pageBuffer_[(offset + i) % pageSize] &= static_cast<std::uint8_t>(value >> (8 * i));
}

// FLASHCALW --------------------------------------------------------------------------------------

std::uint32_t CortexM4Target::statusRegister() const {
    return static_cast<std::uint32_t>(locks_) << 16 | errors_ | (busyLeft_ > 0 ? 0 : fsrFRDY);
}

std::uint32_t CortexM4Target::registerValue(std::uint32_t address) const {
    switch (address) {
    case fcr:
        return fcrValue_;
    case fcmd:
        return lastCommand_ & ~keyMask; // the key does not read back
    case fsr:
        return statusRegister();
    case fpr:
        return fprValue_;
    case chipidCIDR:
        return cidrValue;
    case chipidEXID:
        return exidValue;
    case cpuid:
        return cpuidValue;
    default:
        return 0;
    }
}

std::uint64_t CortexM4Target::controllerRead(uc_engine*, std::uint64_t offset, unsigned size,
                                             void* self) {
    auto& t = *static_cast<CortexM4Target*>(self);
    const auto address = flashcalwBase + static_cast<std::uint32_t>(offset & ~3ull);
    const std::uint32_t value = t.registerValue(address);
    if (address == fsr) {
        // Reading FSR hands out the error bits and clears them; a busy controller counts down.
        t.errors_ = 0;
        if (t.busyLeft_ > 0)
            --t.busyLeft_;
    }
    return extract(value, offset, size);
}

void CortexM4Target::controllerWrite(uc_engine*, std::uint64_t offset, unsigned size,
                                     std::uint64_t value, void* self) {
    auto& t = *static_cast<CortexM4Target*>(self);
    if (size != 4 || offset % 4 != 0)
        return; // the controller's registers take whole words only
    t.writeRegister(flashcalwBase + static_cast<std::uint32_t>(offset),
                    static_cast<std::uint32_t>(value), true);
}

void CortexM4Target::writeRegister(std::uint32_t address, std::uint32_t value, bool fromCpu) {
    if (address == fcr)
        fcrValue_ = value;
    else if (address == fcmd)
        executeCommand(value, fromCpu);
}

void CortexM4Target::executeCommand(std::uint32_t value, bool fromCpu) {
    commands_.push_back({value, fromCpu && interruptsMasked(), fromCpu ? stackPointer() : 0});
    if (busyLeft_ > 0) {
        ++commandsWhileBusy_;
        errors_ = fsrPROGE;
        return;
    }
    errors_ = 0;
    lastCommand_ = value;
    const std::uint32_t command = value & 0x3F;
    const std::uint32_t page = (value >> 8) & 0xFFFF;
    const bool known = command <= cmdUP;
    const bool needsPage =
        command == cmdWP || command == cmdEP || command == cmdLP || command == cmdUP;
    const bool armedFailure = failArmed_ && command == failCommand_ && page == failPage_;
    if ((value & keyMask) != commandKey || !known || (needsPage && page >= pageCount) ||
        armedFailure) {
        failArmed_ = failArmed_ && !armedFailure;
        errors_ = fsrPROGE;
        busyLeft_ = busyPolls_;
        return;
    }

    const int region = static_cast<int>(page / pagesPerRegion);
    std::uint8_t* pageData = flash_.data() + (page % pageCount) * pageSize;
    switch (command) {
    case cmdWP:
    case cmdEP:
        if (lockBit(region)) {
            errors_ = fsrLOCKE;
        } else if (command == cmdWP) {
            for (std::uint32_t i = 0; i < pageSize; ++i)
                pageData[i] &= pageBuffer_[i];
        } else {
            std::fill(pageData, pageData + pageSize, std::uint8_t{0xFF});
        }
        break;
    case cmdCPB:
        pageBuffer_.fill(0xFF);
        break;
    case cmdLP:
        setLockBit(region, true);
        break;
    case cmdUP:
        setLockBit(region, false);
        break;
    default: // NOP
        break;
    }
    busyLeft_ = busyPolls_;
}

// Identification registers ---------------------------------------------------------------------

std::uint64_t CortexM4Target::chipidRead(uc_engine*, std::uint64_t offset, unsigned size,
                                         void* self) {
    auto& t = *static_cast<CortexM4Target*>(self);
    return extract(t.registerValue(chipidWindow + static_cast<std::uint32_t>(offset & ~3ull)),
                   offset, size);
}

std::uint64_t CortexM4Target::systemRead(uc_engine*, std::uint64_t offset, unsigned size,
                                         void* self) {
    auto& t = *static_cast<CortexM4Target*>(self);
    return extract(t.registerValue(systemWindow + static_cast<std::uint32_t>(offset & ~3ull)),
                   offset, size);
}

} // namespace pelwick::testing
