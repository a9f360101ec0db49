#include "support/CortexM4Target.h"

#include <unicorn/unicorn.h>

#include <algorithm>
#include <stdexcept>

namespace pelwick::testing {

namespace {

constexpr std::uint32_t mmioWindow = 0x1000; // Unicorn maps in 4 KiB units
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

} // namespace

CortexM4Target::CortexM4Target() : flash_(flashSize, 0xFF) {
    pageBuffer_.fill(0xFF);
    // UC_MODE_MCLASS would give a Cortex-M33 whatever model is set; Thumb plus the model gives
    // the M4.
    check(uc_open(UC_ARCH_ARM, uc_mode(UC_MODE_THUMB), &uc_), "uc_open");
    using Self = CortexM4Target;
    check(uc_ctl_set_cpu_model(uc_, UC_CPU_ARM_CORTEX_M4), "set CPU model");
    check(uc_mem_map(uc_, ramBase, ramSize, UC_PROT_ALL), "map RAM");

    // Flash: reads return the content, writes go to the page buffer (ANDed, see the header).
    auto flashRead = [](uc_engine*, std::uint64_t offset, unsigned size, void* self) {
        std::uint64_t value = 0;
        for (unsigned i = 0; i < size && offset + i < flashSize; ++i)
            value |= static_cast<std::uint64_t>(static_cast<Self*>(self)->flash_[offset + i])
                     << (8 * i);
        return value;
    };
    auto flashWrite = [](uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value,
                         void* self) {
        auto& t = *static_cast<Self*>(self);
        if (size != 4 || offset % 4 != 0 || t.busyLeft_ > 0)
            ++t.pageBufferMisuse_;
        for (unsigned i = 0; i < size; ++i)
            t.pageBuffer_[(offset + i) % pageSize] &= static_cast<std::uint8_t>(value >> (8 * i));
    };
    check(uc_mmio_map(uc_, flashBase, flashSize, flashRead, this, flashWrite, this), "map flash");

    auto controllerRead = [](uc_engine*, std::uint64_t offset, unsigned size, void* self) {
        return static_cast<Self*>(self)->cpuReadRegister(offset, size);
    };
    auto controllerWrite = [](uc_engine*, std::uint64_t offset, unsigned size, std::uint64_t value,
                              void* self) {
        // The controller's registers take whole words only.
        if (size == 4 && offset == fcmd - flashcalwBase)
            static_cast<Self*>(self)->executeCommand(static_cast<std::uint32_t>(value), true);
    };
    check(uc_mmio_map(uc_, flashcalwBase, mmioWindow, controllerRead, this, controllerWrite, this),
          "map FLASHCALW");

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
    if ((address & ~3u) == fcmd)
        executeCommand(value, false);
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
    const auto bit = static_cast<std::uint16_t>(1u << region);
    locks_ = static_cast<std::uint16_t>(locked ? locks_ | bit : locks_ & ~bit);
}

// Running code ---------------------------------------------------------------------------------

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
    for (int reg = 0; reg <= 12; ++reg)
        setCpuRegister(UC_ARM_REG_R0 + reg, calleeSavedPattern(reg));
    setCpuRegister(UC_ARM_REG_SP, stackPointer);
    setCpuRegister(UC_ARM_REG_LR, monitorReturnAddress | 1u);
    const std::uint32_t primask = interruptsMasked ? 1 : 0;
    setCpuRegister(UC_ARM_REG_PRIMASK, primask);

    RunResult result;
    const uc_err err = uc_emu_start(uc_, entry | 1u, monitorReturnAddress, 0, instructionBudget);
    if (err != UC_ERR_OK)
        result.error = uc_strerror(err);
    result.returned = err == UC_ERR_OK && cpuRegister(UC_ARM_REG_PC) == monitorReturnAddress;
    result.calleeSavedRestored = true;
    for (int reg = 4; reg <= 11; ++reg)
        result.calleeSavedRestored = result.calleeSavedRestored &&
                                     cpuRegister(UC_ARM_REG_R0 + reg) == calleeSavedPattern(reg);
    result.stackPointerRestored = cpuRegister(UC_ARM_REG_SP) == stackPointer;
    result.interruptMaskRestored = cpuRegister(UC_ARM_REG_PRIMASK) == primask;
    result.monitorFrameIntact = true;
    for (std::uint32_t a = stackPointer; a < monitorFrameEnd; a += 4) {
        std::uint32_t value = 0;
        check(uc_mem_read(uc_, a, &value, 4), "read monitor frame");
        result.monitorFrameIntact = result.monitorFrameIntact && value == framePattern(a);
    }
    return result;
}

std::uint32_t CortexM4Target::cpuRegister(int id) const {
    std::uint32_t value = 0;
    check(uc_reg_read(uc_, id, &value), "read register");
    return value;
}

void CortexM4Target::setCpuRegister(int id, std::uint32_t value) {
    check(uc_reg_write(uc_, id, &value), "write register");
}

// FLASHCALW and identification registers ---------------------------------------------------

std::uint32_t CortexM4Target::registerValue(std::uint32_t address) const {
    switch (address) {
    case fsr:
        return static_cast<std::uint32_t>(locks_) << 16 | errors_ | (busyLeft_ > 0 ? 0 : fsrFRDY);
    case fpr:
        return 0x407;
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

std::uint64_t CortexM4Target::cpuReadRegister(std::uint64_t offset, unsigned size) {
    const auto address = flashcalwBase + static_cast<std::uint32_t>(offset & ~3ull);
    const std::uint32_t value = registerValue(address);
    if (address == fsr) {
        // Reading FSR hands out the error bits and clears them; a busy controller counts down.
        errors_ = 0;
        if (busyLeft_ > 0)
            --busyLeft_;
    }
    return extract(value, offset, size);
}

void CortexM4Target::executeCommand(std::uint32_t value, bool fromCpu) {
    commands_.push_back({value, fromCpu && (cpuRegister(UC_ARM_REG_PRIMASK) & 1u) != 0,
                         fromCpu ? cpuRegister(UC_ARM_REG_SP) : 0});
    if (busyLeft_ > 0) {
        ++commandsWhileBusy_;
    }
    errors_ = 0;
    const std::uint32_t command = value & 0x3F;
    const std::uint32_t page = (value >> 8) & 0xFFFF;
    const bool known = command <= cmdUP && command != cmdLP;
    const bool needsPage = command == cmdWP || command == cmdEP || command == cmdUP;
    const bool armedFailure = failNext_ == std::pair(command, page);
    if ((value & keyMask) != commandKey || !known || (needsPage && page >= pageCount) ||
        armedFailure) {
        if (armedFailure) {
            failNext_.reset();
        }
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
    case cmdUP:
        setLockBit(region, false);
        break;
    default: // NOP
        break;
    }
    busyLeft_ = busyPolls_;
}

} // namespace pelwick::testing
