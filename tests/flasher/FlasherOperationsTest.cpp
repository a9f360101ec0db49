#include "flasher/Flasher.h"

#include "device/FlasherError.h"
#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/ObservedCalculator.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace pelwick {
namespace {

using testing::Fault;
using testing::FaultInjectingTransport;
using testing::flasherErrorOf;
using testing::ObservedCalculator;
using Phase = FlashProgressPhase;
using Step = std::pair<double, FlashProgressPhase>;

// An observed calculator behind a fault injector, reached through a Flasher that opens it for its
// one port, and a firmware file to flash.
struct FlasherHarness {
    std::shared_ptr<ObservedCalculator> calculator = std::make_shared<ObservedCalculator>();
    std::shared_ptr<FaultInjectingTransport> link =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    Flasher flasher{std::make_shared<SimulatedPortListing>(), true,
                    FaultInjectingTransport::lendingOpener(link), 0.0};
    testing::TempDir dir;
    Bytes image = testing::patternImage(11);
    FirmwareImage firmware{dir.write("firmware.bin", image), image};
    std::vector<Step> steps;

    FlashProgress progress() {
        return [this](double f, Phase p) { steps.emplace_back(f, p); };
    }
    void write(std::shared_ptr<SambaClient> client = nullptr) {
        flasher.write(firmware, 0x4000, std::move(client), true, progress());
    }
    long stepsIn(Phase phase) const {
        return std::count_if(steps.begin(), steps.end(),
                             [&](const Step& s) { return s.second == phase; });
    }
    // Every connection this flasher opened was closed again, and the bootloader was spared.
    void expectClosedAndSpared(int opens) const {
        EXPECT_EQ(link->openCount(), opens);
        EXPECT_EQ(link->closeCount(), opens);
        calculator->expectBootloaderUntouched();
    }
};

TEST(FlasherOperations, EachOperationReportsItsPhasesAndClosesWhatItOpened) {
    FlasherHarness h;
    h.write();
    EXPECT_EQ(h.stepsIn(Phase::writing), 225);
    EXPECT_EQ(h.steps[225], Step(0.0, Phase::verifying)); // then the read-back
    EXPECT_EQ(h.stepsIn(Phase::verifying), 30);
    EXPECT_EQ(h.flasher.read(h.dir / "backup.bin", nullptr, h.progress()), h.image);
    EXPECT_EQ(readWholeFile(h.dir / "backup.bin"), h.image);
    EXPECT_EQ(h.stepsIn(Phase::reading), 28);
    h.flasher.verify(h.firmware, 0x4000, nullptr);
    h.expectClosedAndSpared(3);

    // A given client is used, not a new connection, and stays open, after a failure too.
    const ConnectedTarget target = h.flasher.connect(3.0);
    h.write(target.client);
    h.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("R", 28 * 4 + 5),
                       Fault::wrongReplyByte, 100);
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.verify(h.firmware, 0x4000, target.client); }),
              FlasherError::verifyMismatch());
    EXPECT_EQ(h.link->openCount(), 4);
    EXPECT_EQ(h.link->closeCount(), 3);
    EXPECT_NO_THROW(target.client->ping(3.0));
}

// A fast write whose identification comes back garbled (the line does not keep up) still writes
// and verifies everything, says once that it fell back, and makes the standard pauses from there.
TEST(FlasherOperations, AFastWriteFallsBackToTheStandardPaceAndSucceeds) {
    FlasherHarness h;
    h.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("wE000ED00", 2),
                       Fault::wrongReplyByte);
    h.flasher.flashCommandSettleSeconds = Flasher::cableSettleSeconds;
    h.flasher.fastTransfer = true;
    double paused = 0;
    h.flasher.sleep = [&](double seconds) { paused += seconds; };
    std::vector<std::string> notices;
    h.flasher.write(h.firmware, 0x4000, nullptr, true, h.progress(), {},
                    [&](const std::string& notice) { notices.push_back(notice); });

    EXPECT_EQ(h.steps.back(), Step(1.0, Phase::verifying));
    EXPECT_EQ(h.calculator->application(), h.image);
    EXPECT_EQ(notices, std::vector<std::string>{TransferPace::fallbackNotice});
    // The upload, INIT and the unlocks, then a block and a start for every page.
    EXPECT_NEAR(paused, 0.02 + 15 * 0.1 + 224 * (0.02 + 0.1), 1e-9);
    h.expectClosedAndSpared(1);
}

TEST(FlasherOperations, FlashChangedBehindTheDriversBackFailsVerification) {
    FlasherHarness h;
    const FlasherError poked = flasherErrorOf([&] {
        h.flasher.write(h.firmware, 0x4000, nullptr, true, h.progress(),
                        [&](const FlashPageWrite& page) {
                            if (page.pageIndex == page.pageCount - 1) {
                                h.calculator->memory()[0x1FFFF] ^= 0x40;
                            }
                        });
    });
    EXPECT_EQ(poked, FlasherError::verifyMismatch());
    EXPECT_EQ(h.stepsIn(Phase::verifying), 29); // no final 1.0
    h.expectClosedAndSpared(1);

    // A page that is not unlocked is still written: a failed unlock is passed over.
    FlasherHarness unlock;
    unlock.calculator->failingUnlockRegion = 5;
    EXPECT_NO_THROW(unlock.write());
    EXPECT_EQ(unlock.calculator->unlockRequests.size(), 14u);
    EXPECT_EQ(unlock.calculator->application(), unlock.image);
}

TEST(FlasherOperations, AnUnsupportedChipIsRefusedBeforeAnythingIsWritten) {
    const auto refusal = FlasherError::unsupportedDevice("ATSAM4LC8C", 0xAB0B0AE0, 0x1400000F);
    FlasherHarness h;
    h.calculator->identifyAs(0xAB0B0AE0, 0x1400000F);
    EXPECT_EQ(flasherErrorOf([&] { h.write(); }), refusal);
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.verify(h.firmware, 0x4000, nullptr); }), refusal);
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.read(h.dir / "b.bin", nullptr); }), refusal);
    // With a client whose chip turns out unsupported, the client stays open and usable.
    const ConnectedTarget target = h.flasher.connect(3.0);
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.readApplication(target.client); }), refusal);
    EXPECT_EQ(flasherErrorOf([&] { h.write(target.client); }), refusal);
    EXPECT_NO_THROW(target.client->ping(3.0));
    target.client->close();

    EXPECT_EQ(h.link->commandsStartingWith("S") + h.link->commandsStartingWith("W") +
                  h.link->commandsStartingWith("R"),
              0);
    EXPECT_FALSE(std::filesystem::exists(h.dir / "b.bin"));
    EXPECT_EQ(h.calculator->application()[0], 0x90);
    h.expectClosedAndSpared(4);
}

TEST(FlasherOperations, ABackupThatCannotBeSavedKeepsTheEarlierFile) {
    FlasherHarness h;
    const Bytes earlier(1000, 0x5A);
    const auto existing = h.dir.write("backup.bin", earlier);

    // A file that cannot grow to the backup's size (a full disk, a quota) must not cost the user
    // the backup already there.
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &small);
    std::string message;
    try {
        h.flasher.read(existing, nullptr);
    } catch (const std::exception& error) {
        message = userMessage(error);
    }
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(message, "Could not write " + existing.string() + ": File too large.");
    EXPECT_EQ(readWholeFile(existing), earlier);
    // No leftovers: the folder holds the firmware and the earlier backup only.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(h.dir.path()), {}), 2);
    // A read that fails writes nothing.
    h.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("R", 28 + 14),
                       Fault::monitorSilent);
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.read(existing, nullptr); }),
              FlasherError::sambaTimeout());
    EXPECT_EQ(readWholeFile(existing), earlier);
    h.expectClosedAndSpared(2);
}

} // namespace
} // namespace pelwick
