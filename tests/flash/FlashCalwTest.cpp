#include "flash/FlashCalw.h"

#include "flash/ObservedCalculator.h"
#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace pelwick {
namespace {

using ::testing::ElementsAre;
using testing::Fault;
using testing::FaultInjectingTransport;
using testing::flasherErrorOf;
using testing::ObservedCalculator;

std::string timedOut(const std::string& activity) {
    return "Timed out " + activity +
           ". Leave the cable plugged in. If Status is not Connected, "
           "hold ERASE, press RESET, then release ERASE.";
}

// A connected client on an observed calculator, through a fault injector.
struct DriverHarness {
    std::shared_ptr<ObservedCalculator> calculator = std::make_shared<ObservedCalculator>();
    std::shared_ptr<FaultInjectingTransport> link =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    SambaClient client{std::make_unique<SharedTransport>(link)};
    FlashCalw driver{client, 0};

    long countCommands(const std::string& prefix) const {
        return std::count_if(link->commands().begin(), link->commands().end(),
                             [&](const std::string& c) { return c.starts_with(prefix); });
    }
};

// Everything a write reports, in the order heard: 'p' for a page record, 'w' for a write value,
// 'v' for a verify value (whose values the Flasher's tests check).
struct Heard {
    std::string order;
    std::vector<FlashPageWrite> pages;
    std::vector<double> written;

    void write(FlashCalw& driver, const Bytes& image, bool verify = true) {
        driver.writeApplication(
            image,
            [this](double f) {
                order += 'w';
                written.push_back(f);
            },
            [this](double) { order += 'v'; },
            [this](const FlashPageWrite& p) {
                order += 'p';
                pages.push_back(p);
            },
            verify);
    }
};

// One record per page, each just before its own progress value, then one more 1.0.
void expectPages(const Heard& heard, const Bytes& image, std::uint32_t pageSize) {
    const auto pages = static_cast<int>(image.size() / pageSize);
    std::string order;
    for (int i = 0; i < pages; ++i) {
        order += "pw";
    }
    EXPECT_EQ(heard.order.substr(0, order.size() + 1), order + "w");
    ASSERT_EQ(heard.pages.size(), static_cast<std::size_t>(pages));
    for (int i = 0; i < pages; ++i) {
        const auto offset = static_cast<std::size_t>(i) * pageSize;
        EXPECT_EQ(
            heard.pages[i],
            (FlashPageWrite{static_cast<std::uint32_t>(0x4000 + offset), i, pages,
                            Bytes(image.begin() + offset, image.begin() + offset + pageSize)}));
        EXPECT_DOUBLE_EQ(heard.written[i], static_cast<double>(i + 1) / pages);
    }
    EXPECT_EQ(heard.written.back(), 1.0);
}

TEST(FlashCalw, WriteReportsEveryPageThenVerifies) {
    DriverHarness h;
    const Bytes image = testing::patternImage(5);
    Heard heard;
    heard.write(h.driver, image);

    EXPECT_EQ(h.calculator->application(), image);
    expectPages(heard, image, 512);
    EXPECT_EQ(heard.order.substr(2 * 224 + 1), std::string(30, 'v'));

    EXPECT_THAT(h.calculator->unlockRequests,
                ElementsAre(2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15));
    h.calculator->expectBootloaderUntouched();
    // Identification, upload at the applet address, then INIT; the read-back starts at 0x4000.
    const auto& commands = h.link->commands();
    EXPECT_THAT(std::vector<std::string>(commands.begin(), commands.begin() + 4),
                ElementsAre("wE000ED00,4#", "w400E0740,4#", "w400E0744,4#", "S20002000,00000A5C#"));
    EXPECT_EQ(commands[commands.size() - 28], "R00004000,00001000#");
    EXPECT_EQ(commands.back(), "R0001F000,00001000#");

    Heard unverified;
    unverified.write(h.driver, testing::patternImage(6), false);
    EXPECT_EQ(unverified.order.size(), 2u * 224 + 1);
    EXPECT_EQ(h.countCommands("R"), 28); // none for the unverified write
}

TEST(FlashCalw, SmallerPagesFromTheAppletGiveMorePageRecords) {
    DriverHarness h;
    // 256-byte pages, 512 of them, applications from page 64.
    h.calculator->initOverrides = {{0x18, 0x100}, {0x1C, 0x200}, {0x20, 0x40}};
    const Bytes image = testing::patternImage(7);
    Heard heard;
    heard.write(h.driver, image);

    expectPages(heard, image, 256); // 448 records, 0x4000 to 0x1FF00
    EXPECT_EQ(h.calculator->application(), image);
    // Still regions 2 to 15.
    EXPECT_EQ(h.calculator->unlockRequests.front(), 2u);
    EXPECT_EQ(h.calculator->unlockRequests.size(), 14u);
    h.calculator->expectBootloaderUntouched();
}

TEST(FlashCalw, AShortLastPageIsPaddedWithErasedBytes) {
    DriverHarness h;
    // 768-byte pages do not divide the image: 149 full pages and one with 256 bytes of data.
    h.calculator->initOverrides = {{0x10, 0x400}, {0x18, 0x300}, {0x1C, 0xAA}, {0x20, 0x15}};
    const Bytes image = testing::patternImage(9);
    std::vector<FlashPageWrite> pages;
    h.driver.writeApplication(
        image, {}, {}, [&](const FlashPageWrite& p) { pages.push_back(p); }, false);
    ASSERT_EQ(pages.size(), 150u);
    const FlashPageWrite& last = pages.back();
    EXPECT_EQ(last.flashOffset, 0x1FF00u);
    ASSERT_EQ(last.pageData.size(), 0x300u);
    EXPECT_TRUE(
        std::equal(last.pageData.begin(), last.pageData.begin() + 0x100, image.end() - 0x100));
    EXPECT_TRUE(std::all_of(last.pageData.begin() + 0x100, last.pageData.end(),
                            [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(h.calculator->application(), image);
}

TEST(FlashCalw, RefusalsComeBeforeTheAppletIsUploaded) {
    DriverHarness h;
    EXPECT_EQ(flasherErrorOf([&] { h.driver.writeApplication(Bytes(100, 1)); }),
              FlasherError::firmwareWrongSize(100, 114688));
    EXPECT_EQ(flasherErrorOf([&] { h.driver.verifyApplication(Bytes(0x1C001, 1)); }),
              FlasherError::firmwareTooLarge(0x1C001, 114688));
    EXPECT_TRUE(h.link->commands().empty());

    h.calculator->identifyAs(0xAB0A09E0, 0x0400000F);
    EXPECT_EQ(flasherErrorOf([&] { h.driver.writeApplication(testing::patternImage()); }),
              FlasherError::unsupportedDevice("ATSAM4LC4C", 0xAB0A09E0, 0x0400000F));
    EXPECT_EQ(h.link->commands().size(), 3u); // the three identification reads
    EXPECT_EQ(h.countCommands("S"), 0);
    EXPECT_EQ(h.calculator->application()[0], 0x90);
}

TEST(FlashCalw, UnlockGeometryFallsBackToDefaultsAndNeverReachesTheBootloader) {
    struct Case {
        std::map<std::uint32_t, std::uint32_t> init;
        std::vector<std::uint32_t> regions;
        bool refused = false; // with a protocol error, before anything is unlocked or sent
    };
    std::vector<std::uint32_t> application;
    for (std::uint32_t r = 2; r < 16; ++r) {
        application.push_back(r);
    }
    const std::vector<Case> cases = {
        // Zero lock bits, page count and start page mean 16, 256 and 32.
        {{{0x14, 0x00002000}, {0x1C, 0}, {0x20, 0}}, application},
        // The application begins at the last lock bit, or beyond it: nothing to unlock.
        {{{0x20, 256}}, {}},
        {{{0x20, 0x100000}}, {}},
        // More lock bits than pages: one page per region.
        {{{0x14, 0x00240000}, {0x1C, 0x20}, {0x20, 0x20}}, {0x20, 0x21, 0x22, 0x23}},
        // A start page inside the bootloader still leaves its lock regions alone.
        {{{0x20, 1}}, application},
        // 256-byte pages in 16-page regions: the start page's region is the first.
        {{{0x18, 0x100}}, application},
        // A buffer that is not free RAM.
        {{{0x0C, 0x00000200}}, {}, true},
        {{{0x0C, 0x20002100}}, {}, true},
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
        {FaultInjectingTransport::commandIs("W20002050,0001FE00#"), "writing page 224 of 224"},
        {FaultInjectingTransport::nthCommandStartingWith("R", 28), "verifying firmware"},
    };
    for (const auto& [when, activity] : cases) {
        DriverHarness h;
        h.link->injectWhen(when, Fault::monitorSilent);
        EXPECT_EQ(flasherErrorOf([&] { h.driver.writeApplication(testing::patternImage()); }),
                  FlasherError::sambaTimeout(timedOut(activity)));
        EXPECT_TRUE(h.link->triggered());
        h.calculator->expectBootloaderUntouched();
    }

    // Reading a backup says only that the monitor stopped answering.
    DriverHarness h;
    h.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("R", 3),
                       Fault::replyCutShort, 1);
    EXPECT_EQ(flasherErrorOf([&] { h.driver.readApplication(); }), FlasherError::sambaTimeout());
    EXPECT_EQ(h.link->commands().size(), 3u);
}

TEST(FlashCalw, AChipThatIsNotACortexM4IsReadOnceMoreBeforeItIsReported) {
    DriverHarness h;
    h.link->injectWhen(FaultInjectingTransport::commandIs("wE000ED00,4#"), Fault::wrongReplyByte,
                       1);
    const DeviceIdentity identity = h.driver.identify();
    EXPECT_TRUE(identity.isSupported15C());
    EXPECT_EQ(identity.cpuid, 0x410FC241u);
    EXPECT_EQ(h.link->commands().size(), 6u);

    // Another core is reported after the second look.
    h.calculator->storeWord(FlashCalw::cpuid, 0x410FC231);
    EXPECT_EQ(h.driver.identify().cpuid, 0x410FC231u);
    EXPECT_EQ(h.link->commands().size(), 12u);
}

TEST(FlashCalw, AReadWhoseLastBlockIsFollowedByMoreBytesFails) {
    // A stray byte ahead of the last block: the block's end comes after the reply has been
    // taken, so only a quiet line at the end can tell that the region was shifted.
    struct Trickling : ByteTransport {
        std::shared_ptr<ByteTransport> inner;
        Bytes late;
        void write(ByteView data) override {
            inner->write(data);
            if (std::string(data.begin(), data.end()) == "R0001F000,00001000#") {
                Bytes reply = inner->readExactly(4096, 1.0);
                late.assign(1, reply.back());
                reply.pop_back();
                reply.insert(reply.begin(), 0x5A);
                pending = reply;
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
        Bytes pending;
    };
    auto calculator = std::make_shared<ObservedCalculator>();
    auto line = std::make_shared<Trickling>();
    line->inner = calculator;
    SambaClient client(std::make_unique<SharedTransport>(line));
    FlashCalw driver(client, 0);
    EXPECT_EQ(flasherErrorOf([&] { driver.readApplication(); }),
              FlasherError::sambaProtocol(SambaClient::unexpectedBytesDetail));
}

TEST(FlashCalw, AGarbledPageSizeIsAProtocolErrorNotAHugePage) {
    DriverHarness h;
    h.link->injectWhen(FaultInjectingTransport::commandIs("w20002058,4#"), Fault::wrongReplyByte,
                       3);
    EXPECT_EQ(flasherErrorOf([&] { h.driver.writeApplication(testing::patternImage()); }),
              FlasherError::sambaProtocol("applet WRITE size 4278190592 exceeds buffer 512"));
    EXPECT_TRUE(h.calculator->writeOffsets.empty());
    h.calculator->expectBootloaderUntouched();
}

TEST(FlashCalw, AGarbledPageCountCannotUnlockTheBootloadersRegions) {
    // A page count with one byte garbled (0x100 read as 0xFE00 or 0xFF0100) makes the reported
    // regions bigger than the application's start; the applet still counts 16 regions of 8 KiB.
    for (std::uint32_t pages : {0xFE00u, 0xFF0100u, 0xFF000100u}) {
        DriverHarness h;
        h.calculator->initOverrides = {{0x1C, pages}};
        EXPECT_NO_THROW(h.driver.writeApplication(testing::patternImage(), {}, {}, {}, false));
        ASSERT_FALSE(h.calculator->unlockRequests.empty()) << pages;
        EXPECT_EQ(h.calculator->unlockRequests.front(), 2u) << pages;
        EXPECT_EQ(h.calculator->unlockRequests.back(), 15u) << pages;
        h.calculator->expectBootloaderUntouched();
    }
}

} // namespace
} // namespace pelwick
