#include "flash/FlashCalw.h"

#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/ObservedCalculator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

namespace pelwick {
namespace {

using testing::Fault;
using testing::FaultInjectingTransport;
using testing::flasherErrorOf;
using testing::ObservedCalculator;

// A connected client on an observed calculator, through a fault injector.
struct DriverHarness {
    std::shared_ptr<ObservedCalculator> calculator = std::make_shared<ObservedCalculator>();
    std::shared_ptr<FaultInjectingTransport> link =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    SambaClient client{std::make_unique<SharedTransport>(link)};
    FlashCalw driver{client, 0};
};

// The lock regions after the bootloader's two.
const std::vector<std::uint32_t> kApplicationRegions{2, 3,  4,  5,  6,  7,  8,
                                                     9, 10, 11, 12, 13, 14, 15};

TEST(FlashCalw, WriteReportsEveryPageAsWrittenThenVerifies) {
    struct Case {
        std::map<std::uint32_t, std::uint32_t> init;
        std::size_t pageSize;
    };
    // The chip's 512-byte pages; 256-byte pages from page 64; 768-byte pages, which do not divide
    // the image: the last of 150 pages holds 256 bytes and is padded with erased bytes.
    for (const Case& c : std::vector<Case>{
             {{}, 512},
             {{{0x18, 0x100}, {0x1C, 0x200}, {0x20, 0x40}}, 256},
             {{{0x10, 0x400}, {0x18, 0x300}, {0x1C, 0xAA}, {0x20, 0x15}}, 768},
         }) {
        DriverHarness h;
        h.calculator->initOverrides = c.init;
        const Bytes image = testing::patternImage(5);
        // Every write progress value with the number of page records heard by then.
        std::vector<std::pair<double, std::size_t>> written;
        std::vector<FlashPageWrite> pages;
        int verifyValues = 0;
        h.driver.writeApplication(
            image, [&](double f) { written.emplace_back(f, pages.size()); },
            [&](double) { ++verifyValues; }, [&](const FlashPageWrite& p) { pages.push_back(p); });

        EXPECT_EQ(h.calculator->application(), image);
        h.calculator->expectBootloaderUntouched();
        EXPECT_EQ(h.calculator->unlockRequests, kApplicationRegions);
        // One record per page, each just before its own progress value, then one more 1.0, then
        // the read-back in 28 blocks.
        const auto count = (image.size() + c.pageSize - 1) / c.pageSize;
        ASSERT_EQ(pages.size(), count);
        ASSERT_EQ(written.size(), count + 1);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t offset = i * c.pageSize;
            Bytes data(image.begin() + offset,
                       image.begin() + std::min(offset + c.pageSize, image.size()));
            data.resize(c.pageSize, 0xFF);
            EXPECT_EQ(pages[i],
                      (FlashPageWrite{static_cast<std::uint32_t>(0x4000 + offset),
                                      static_cast<int>(i), static_cast<int>(count), data}));
            EXPECT_EQ(written[i], std::pair(static_cast<double>(i + 1) / count, i + 1));
        }
        EXPECT_EQ(written.back(), std::pair(1.0, count));
        EXPECT_EQ(verifyValues, 30);
        EXPECT_EQ(h.link->commandsStartingWith("R"), 28);
    }

    // No read-back without verification.
    DriverHarness h;
    h.driver.writeApplication(testing::patternImage(7), {}, {}, {}, false);
    EXPECT_EQ(h.link->commandsStartingWith("R"), 0);
    EXPECT_EQ(h.calculator->application(), testing::patternImage(7));
}

TEST(FlashCalw, RefusalsComeBeforeAnythingIsWrittenAndAMismatchFailsVerification) {
    DriverHarness h;
    EXPECT_EQ(flasherErrorOf([&] { h.driver.writeApplication(Bytes(100, 1)); }),
              FlasherError::firmwareWrongSize(100, 114688));
    EXPECT_TRUE(h.link->commands().empty());

    // The flash holds the simulated firmware, not this image.
    EXPECT_EQ(flasherErrorOf([&] { h.driver.verifyApplication(testing::patternImage()); }),
              FlasherError::verifyMismatch());

    h.calculator->identifyAs(0xAB0A09E0, 0x0400000F);
    const std::size_t before = h.link->commands().size();
    EXPECT_EQ(flasherErrorOf([&] { h.driver.writeApplication(testing::patternImage()); }),
              FlasherError::unsupportedDevice("ATSAM4LC4C", 0xAB0A09E0, 0x0400000F));
    EXPECT_EQ(h.link->commands().size(), before + 3); // the three identification reads
    EXPECT_EQ(h.link->commandsStartingWith("S"), 0);
    EXPECT_EQ(h.calculator->application()[0], 0x90);
}

TEST(FlashCalw, UnlockGeometryFallsBackToDefaultsAndNeverReachesTheBootloader) {
    struct Case {
        std::map<std::uint32_t, std::uint32_t> init;
        std::vector<std::uint32_t> regions;
        bool refused = false; // with a protocol error, before any page is sent
    };
    const std::vector<Case> cases = {
        // Zero lock bits, page count and start page mean 16, 256 and 32.
        {{{0x14, 0x00002000}, {0x1C, 0}, {0x20, 0}}, kApplicationRegions},
        // The application begins at the last lock bit, or beyond it: nothing to unlock.
        {{{0x20, 0x100000}}, {}},
        // More lock bits than pages: one page per region.
        {{{0x14, 0x00240000}, {0x1C, 0x20}, {0x20, 0x20}}, {0x20, 0x21, 0x22, 0x23}},
        // A start page inside the bootloader still leaves its lock regions alone.
        {{{0x20, 1}}, kApplicationRegions},
        // 256-byte pages in 16-page regions: the start page's region is the first.
        {{{0x18, 0x100}}, kApplicationRegions},
        // A page count with one byte garbled (0x100 read as 0xFE00 or 0xFF0100) makes the regions
        // bigger than the application's start; the applet still counts 16 regions of 8 KiB.
        {{{0x1C, 0xFE00}}, kApplicationRegions},
        {{{0x1C, 0xFF0100}}, kApplicationRegions},
        {{{0x1C, 0xFF000100}}, kApplicationRegions},
        // A garbled page size is a protocol error, not a page of gigabytes.
        {{{0x18, 0xFF000200}}, kApplicationRegions, true},
        // A buffer that is not free RAM.
        {{{0x0C, 0x00000200}}, {}, true},
        {{{0x0C, 0x20007F00}}, {}, true},
    };
    for (const Case& c : cases) {
        DriverHarness h;
        h.calculator->initOverrides = c.init;
        const auto write = [&] {
            h.driver.writeApplication(testing::patternImage(), {}, {}, {}, false);
        };
        if (c.refused) {
            EXPECT_EQ(flasherErrorOf(write).kind(), FlasherError::Case::sambaProtocol);
            EXPECT_TRUE(h.calculator->writeOffsets.empty());
        } else {
            EXPECT_NO_THROW(write());
        }
        EXPECT_EQ(h.calculator->unlockRequests, c.regions);
        h.calculator->expectBootloaderUntouched();
    }
}

TEST(FlashCalw, TimeOutsNameWhatTheDriverWasDoing) {
    const std::vector<std::pair<FaultInjectingTransport::CommandPredicate, std::string>> cases = {
        {FaultInjectingTransport::nthCommandStartingWith("w", 1), "identifying the calculator"},
        {FaultInjectingTransport::nthCommandStartingWith("G", 1), "starting the flash applet"},
        {FaultInjectingTransport::nthCommandStartingWith("G", 2), "unlocking flash"},
        {FaultInjectingTransport::nthCommandStartingWith("G", 16), "writing page 1 of 224"},
        {FaultInjectingTransport::nthCommandStartingWith("R", 28), "verifying firmware"},
    };
    for (const auto& [when, activity] : cases) {
        DriverHarness h;
        h.link->injectWhen(when, Fault::monitorSilent);
        EXPECT_EQ(flasherErrorOf([&] { h.driver.writeApplication(testing::patternImage()); }),
                  FlasherError::timedOutWhile(activity));
        EXPECT_TRUE(h.link->triggered());
        h.calculator->expectBootloaderUntouched();
    }
}

TEST(FlashCalw, AReadWhoseLastBlockIsFollowedByMoreBytesFails) {
    // A stray byte ahead of the last block: the block's end comes after the reply has been
    // taken, so only a quiet line at the end can tell that the region was shifted.
    struct Trickling : ByteTransport {
        std::shared_ptr<ByteTransport> inner;
        Bytes late;
        Bytes pending;
        void write(ByteView data) override {
            inner->write(data);
            if (std::string(data.begin(), data.end()) == "R0001F000,00001000#") {
                pending = inner->readExactly(4096, 1.0);
                late.assign(1, pending.back());
                pending.pop_back();
                pending.insert(pending.begin(), 0x5A);
            }
        }
        Bytes read(std::size_t max, double timeout) override {
            if (!pending.empty()) {
                Bytes out(pending.begin(), pending.begin() + std::min(max, pending.size()));
                pending.erase(pending.begin(), pending.begin() + out.size());
                return out;
            }
            if (timeout > 0 && !late.empty()) {
                return std::exchange(late, {});
            }
            return inner->read(max, timeout);
        }
        void close() noexcept override {}
    };
    auto line = std::make_shared<Trickling>();
    line->inner = std::make_shared<ObservedCalculator>();
    SambaClient client(std::make_unique<SharedTransport>(line));
    EXPECT_EQ(flasherErrorOf([&] { FlashCalw(client, 0).readApplication(); }),
              FlasherError::sambaProtocol(SambaClient::unexpectedBytesDetail));
}

} // namespace
} // namespace pelwick
