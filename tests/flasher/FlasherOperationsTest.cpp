#include "flasher/Flasher.h"

#include "device/FlasherError.h"
#include "flash/ObservedCalculator.h"
#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>

namespace pelwick {
namespace {

using testing::Fault;
using testing::FaultInjectingTransport;
using testing::ObservedCalculator;
using testing::TempDir;
using Phase = FlashProgressPhase;
using Step = std::pair<double, FlashProgressPhase>;

const std::string kLeaveCable = ". Leave the cable plugged in. If Status is not Connected, hold "
                                "ERASE, press RESET, then release ERASE.";

using testing::flasherErrorOf;

std::vector<Step> readSteps(Phase phase) {
    std::vector<Step> steps;
    for (int k = 1; k <= 28; ++k) {
        steps.emplace_back(k * 4096.0 / 114688.0, phase);
    }
    return steps;
}

std::vector<Step> writeSteps(int pages) {
    std::vector<Step> steps;
    for (int i = 1; i <= pages; ++i) {
        steps.emplace_back(static_cast<double>(i) / pages, Phase::writing);
    }
    steps.emplace_back(1.0, Phase::writing);
    return steps;
}

std::vector<Step> verifySteps(bool succeeded) {
    std::vector<Step> steps{{0.0, Phase::verifying}};
    const auto reads = readSteps(Phase::verifying);
    steps.insert(steps.end(), reads.begin(), reads.end());
    if (succeeded) {
        steps.emplace_back(1.0, Phase::verifying);
    }
    return steps;
}

std::vector<Step> concat(std::vector<Step> a, const std::vector<Step>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

/// Lists a fixed set of ports and counts how often it was asked.
class CountingListing : public SerialPortListing {
public:
    explicit CountingListing(std::vector<SerialPort> ports) : ports_(std::move(ports)) {}
    std::vector<SerialPort> listPorts() const override {
        ++calls;
        return ports_;
    }
    mutable int calls = 0;

private:
    std::vector<SerialPort> ports_;
};

// An observed calculator behind a fault injector, reached through a Flasher that opens it for its
// one port, and a firmware file to flash.
struct FlasherHarness {
    std::shared_ptr<ObservedCalculator> calculator = std::make_shared<ObservedCalculator>();
    std::shared_ptr<FaultInjectingTransport> link =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(calculator));
    std::shared_ptr<CountingListing> listing = std::make_shared<CountingListing>(
        std::vector<SerialPort>{SimulatedCalculatorTransport::demoPort});
    Flasher flasher{listing, true, FaultInjectingTransport::lendingOpener(link), 0.0};
    TempDir dir;
    Bytes image = testing::patternImage(11);
    FirmwareImage firmware{dir.write("firmware.bin", image), image};
    std::vector<Step> steps;
    std::vector<FlashPageWrite> pages;

    FlashProgress progress() {
        return [this](double f, Phase p) { steps.emplace_back(f, p); };
    }
    FlashPageProgress pageProgress() {
        return [this](const FlashPageWrite& page) { pages.push_back(page); };
    }
    void write(std::shared_ptr<SambaClient> client = nullptr, bool verify = true) {
        flasher.write(firmware, 0x4000, std::move(client), verify, progress(), pageProgress());
    }
    long countCommands(const std::string& prefix) const {
        return std::count_if(link->commands().begin(), link->commands().end(),
                             [&](const std::string& c) { return c.starts_with(prefix); });
    }
    // Every connection this flasher opened was closed again, and the bootloader was spared.
    void expectClosedAndSpared(int opens = 1) const {
        EXPECT_EQ(link->openCount(), opens);
        EXPECT_EQ(link->closeCount(), opens);
        calculator->expectBootloaderUntouched();
    }
};

TEST(FlasherOperations, ProgressFollowsThePhasesOfEachOperation) {
    FlasherHarness h;
    h.write();
    EXPECT_EQ(h.steps, concat(writeSteps(224), verifySteps(true)));
    ASSERT_EQ(h.pages.size(), 224u);
    EXPECT_EQ(h.pages.front().header(), "Page 1 of 224 \u00B7 0x04000");
    EXPECT_EQ(h.pages.back().header(), "Page 224 of 224 \u00B7 0x1FE00");
    EXPECT_EQ(h.calculator->application(), h.image);

    h.steps.clear();
    h.write(nullptr, false);
    EXPECT_EQ(h.steps, writeSteps(224));

    h.steps.clear();
    h.flasher.verify(h.firmware, 0x4000, nullptr, h.progress());
    EXPECT_EQ(h.steps, verifySteps(true));

    h.steps.clear();
    EXPECT_EQ(h.flasher.readApplication(nullptr, h.progress()), h.image);
    EXPECT_EQ(h.steps, readSteps(Phase::reading));

    h.steps.clear();
    const auto backup = h.dir / "backup.bin";
    EXPECT_EQ(h.flasher.read(backup, nullptr, h.progress()), h.image);
    EXPECT_EQ(readWholeFile(backup), h.image);
    EXPECT_EQ(h.steps, readSteps(Phase::reading));

    // Five operations without a client: five connections, each closed again.
    h.expectClosedAndSpared(5);
}

TEST(FlasherOperations, AGivenClientIsUsedAndLeftOpen) {
    FlasherHarness h;
    const ConnectedTarget target = h.flasher.connect(3.0);
    EXPECT_EQ(target.identity.name, "ATSAM4LC2C");
    const auto connectCommands = h.link->commands().size();

    h.write(target.client);
    h.flasher.verify(h.firmware, 0x4000, target.client);
    EXPECT_EQ(h.flasher.readApplication(target.client), h.image);
    h.flasher.read(h.dir / "backup.bin", target.client);
    EXPECT_EQ(h.link->openCount(), 1);
    EXPECT_EQ(h.link->closeCount(), 0);
    // No second "N#"/"V#": the operations did not connect again.
    EXPECT_EQ(std::count(h.link->commands().begin() + static_cast<long>(connectCommands),
                         h.link->commands().end(), "V#"),
              0);

    // A failure on a given client leaves it open too.
    h.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("R", 120),
                       Fault::wrongReplyByte, 100);
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.verify(h.firmware, 0x4000, target.client); }),
              FlasherError::verifyMismatch());
    EXPECT_EQ(h.link->closeCount(), 0);
    EXPECT_NO_THROW(target.client->ping(3.0));
    target.client->close();
    h.expectClosedAndSpared(1);
}

// A fast write against a calculator that once does not keep up still writes and verifies
// everything, says once that it fell back, and from there on makes the standard pauses.
TEST(FlasherOperations, AFastWriteFallsBackToTheStandardPaceAndSucceeds) {
    struct Case {
        const char* what;
        FaultInjectingTransport::CommandPredicate at;
        Fault fault;
        int pagesAtStandardPace;
        double pollPauses;
    };
    for (const Case& c : {
             Case{"a poll of page 100 answered late",
                  FaultInjectingTransport::nthCommandStartingWith("w20002040", 1 + 14 + 100),
                  Fault::replyLate, 124, 1.0},
             Case{"a garbled identification",
                  FaultInjectingTransport::nthCommandStartingWith("wE000ED00", 2),
                  Fault::wrongReplyByte, 224, 0.0},
         }) {
        FlasherHarness h;
        h.link->injectWhen(c.at, c.fault);
        h.flasher.flashCommandSettleSeconds = Flasher::cableSettleSeconds;
        h.flasher.fastTransfer = true;
        std::optional<bool> troubleBeforeFirstPause;
        double paused = 0;
        h.flasher.sleep = [&](double seconds) {
            troubleBeforeFirstPause = troubleBeforeFirstPause.value_or(h.link->triggered());
            paused += seconds;
        };
        std::vector<std::string> notices;
        h.flasher.write(h.firmware, 0x4000, nullptr, true, h.progress(), {},
                        [&](const std::string& notice) { notices.push_back(notice); });

        EXPECT_EQ(h.steps.back(), Step(1.0, Phase::verifying)) << c.what;
        EXPECT_EQ(h.calculator->application(), h.image) << c.what;
        EXPECT_EQ(notices, std::vector<std::string>{TransferPace::fallbackNotice}) << c.what;
        // Nothing paused before the trouble; the standard pauses after it (a block and a start
        // for every page, the upload, INIT and the unlocks too when it came first).
        EXPECT_EQ(troubleBeforeFirstPause, true) << c.what;
        const double standard = c.pagesAtStandardPace * (0.02 + 0.1) +
                                (c.pagesAtStandardPace == 224 ? 0.02 + 15 * 0.1 : 0.0);
        EXPECT_NEAR(paused, standard + c.pollPauses, 1e-9) << c.what;
        h.expectClosedAndSpared();
    }
}

TEST(FlasherOperations, CableGoneInTheMiddleOfAPage) {
    FlasherHarness h;
    // Page 100's data is in the buffer and its WRITE command half written when the cable goes.
    h.link->injectWhen(
        [](const std::vector<std::string>& history) {
            const auto buffers = std::count_if(history.begin(), history.end(), [](const auto& c) {
                return c.starts_with("S20002C00,");
            });
            return buffers == 100 && history.back().starts_with("W2000204C,");
        },
        Fault::cableGone);
    EXPECT_EQ(flasherErrorOf([&] { h.write(); }), FlasherError::serialPortClosed());
    EXPECT_EQ(h.pages.size(), 99u);
    EXPECT_EQ(h.steps.size(), 99u);
    EXPECT_EQ(h.calculator->writeOffsets.size(), 99u);
    h.expectClosedAndSpared();
}

TEST(FlasherOperations, SilentMonitorWhileWritingAPage) {
    FlasherHarness h;
    h.link->injectWhen(FaultInjectingTransport::commandIs("W20002050,00006000#"),
                       Fault::monitorSilent);
    const FlasherError error = flasherErrorOf([&] { h.write(); });
    EXPECT_EQ(error.errorDescription(), "Timed out writing page 17 of 224" + kLeaveCable);
    EXPECT_EQ(h.pages.size(), 16u);
    EXPECT_TRUE(std::none_of(h.steps.begin(), h.steps.end(),
                             [](const Step& s) { return s.second == Phase::verifying; }));
    h.expectClosedAndSpared();
}

TEST(FlasherOperations, SilentMonitorInTheMiddleOfABackup) {
    FlasherHarness h;
    h.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("R", 14),
                       Fault::monitorSilent);
    const auto backup = h.dir / "backup.bin";
    const FlasherError error =
        flasherErrorOf([&] { h.flasher.read(backup, nullptr, h.progress()); });
    EXPECT_EQ(error, FlasherError::sambaTimeout());
    EXPECT_EQ(error.errorDescription(),
              "Timed out talking to SAM-BA. Leave the cable plugged in. If Status is not "
              "Connected, hold ERASE, press RESET, then release ERASE.");
    EXPECT_EQ(h.steps.size(), 13u);
    EXPECT_FALSE(std::filesystem::exists(backup));
    h.expectClosedAndSpared();
}

TEST(FlasherOperations, SilentMonitorDuringTheVerifyRead) {
    FlasherHarness h;
    h.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("R", 5),
                       Fault::monitorSilent);
    const FlasherError error = flasherErrorOf([&] { h.write(); });
    EXPECT_EQ(error.errorDescription(), "Timed out verifying firmware" + kLeaveCable);
    auto started = verifySteps(false);
    started.resize(5); // 0.0 and the four blocks read before the silence
    EXPECT_EQ(h.steps, concat(writeSteps(224), started));
    h.expectClosedAndSpared();

    // The same on the stand-alone verify.
    FlasherHarness alone;
    alone.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("R", 1),
                           Fault::monitorSilent);
    EXPECT_EQ(flasherErrorOf([&] {
                  alone.flasher.verify(alone.firmware, 0x4000, nullptr);
              }).errorDescription(),
              "Timed out verifying firmware" + kLeaveCable);
    alone.expectClosedAndSpared();
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
    EXPECT_EQ(h.steps, concat(writeSteps(224), verifySteps(false)));
    h.expectClosedAndSpared();

    // A byte that changes on its way back is caught the same way.
    FlasherHarness garbled;
    garbled.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("R", 9),
                             Fault::wrongReplyByte, 4095);
    EXPECT_EQ(flasherErrorOf([&] { garbled.write(); }), FlasherError::verifyMismatch());
    EXPECT_EQ(garbled.steps.back(), Step(1.0, Phase::verifying)); // the last read value only
    EXPECT_EQ(garbled.steps.size(), writeSteps(224).size() + verifySteps(false).size());
    EXPECT_EQ(garbled.calculator->application(), garbled.image);
    garbled.expectClosedAndSpared();
}

TEST(FlasherOperations, AFailedUnlockIsPassedOverAndTheWriteGoesOn) {
    FlasherHarness h;
    h.calculator->failingUnlockRegion = 5;
    EXPECT_NO_THROW(h.write());
    EXPECT_EQ(h.calculator->unlockRequests,
              (std::vector<std::uint32_t>{2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(h.steps.back(), Step(1.0, Phase::verifying));
    EXPECT_EQ(h.calculator->application(), h.image);
    h.expectClosedAndSpared();
}

TEST(FlasherOperations, AnUnsupportedChipIsRefusedBeforeAnythingIsWritten) {
    const auto refusal = FlasherError::unsupportedDevice("ATSAM4LC8C", 0xAB0B0AE0, 0x1400000F);
    {
        FlasherHarness h;
        h.calculator->identifyAs(0xAB0B0AE0, 0x1400000F);
        EXPECT_EQ(flasherErrorOf([&] { h.write(); }), refusal);
        EXPECT_EQ(flasherErrorOf([&] { h.flasher.verify(h.firmware, 0x4000, nullptr); }), refusal);
        EXPECT_EQ(flasherErrorOf([&] { h.flasher.readApplication(nullptr); }), refusal);
        EXPECT_EQ(flasherErrorOf([&] { h.flasher.read(h.dir / "b.bin", nullptr); }), refusal);
        EXPECT_EQ(h.countCommands("S"), 0);
        EXPECT_EQ(h.countCommands("W"), 0);
        EXPECT_EQ(h.countCommands("R"), 0);
        EXPECT_FALSE(std::filesystem::exists(h.dir / "b.bin"));
        EXPECT_EQ(h.calculator->application()[0], 0x90);
        h.expectClosedAndSpared(4);
    }
    {
        // With a client whose chip turns out unsupported, the client stays open and usable.
        FlasherHarness h;
        const ConnectedTarget target = h.flasher.connect(3.0);
        h.calculator->identifyAs(0xAB0B0AE0, 0x1400000F);
        EXPECT_EQ(flasherErrorOf([&] { h.flasher.readApplication(target.client); }), refusal);
        EXPECT_EQ(flasherErrorOf([&] { h.write(target.client); }), refusal);
        EXPECT_EQ(h.link->closeCount(), 0);
        EXPECT_NO_THROW(target.client->ping(3.0));
        EXPECT_EQ(h.countCommands("R"), 0);
        EXPECT_EQ(h.countCommands("S"), 0);
        target.client->close();
    }
}

TEST(FlasherOperations, ABackupThatCannotBeSavedKeepsTheEarlierFile) {
    FlasherHarness h;
    const auto missingFolder = h.dir / "gone" / "backup.bin";
    try {
        h.flasher.read(missingFolder, nullptr, h.progress());
        ADD_FAILURE() << "saved into a missing folder";
    } catch (const std::filesystem::filesystem_error& error) {
        EXPECT_EQ(userMessage(error),
                  "Could not write " + missingFolder.string() + ": No such file or directory.");
    }
    EXPECT_EQ(h.steps, readSteps(Phase::reading)); // the whole image was read first
    h.expectClosedAndSpared();

    // A file that cannot grow to the backup's size (a full disk, a quota) must not cost the user
    // the backup already there.
    const Bytes earlier(1000, 0x5A);
    const auto existing = h.dir.write("backup.bin", earlier);
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
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(h.dir.path())) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"backup.bin", "firmware.bin"})); // no leftovers
    h.expectClosedAndSpared(2);
}

TEST(FlasherOperations, WithoutACableNothingIsOpened) {
    FlasherHarness h;
    h.listing = std::make_shared<CountingListing>(std::vector<SerialPort>{});
    h.flasher.ports = h.listing;
    EXPECT_EQ(flasherErrorOf([&] { h.write(); }), FlasherError::noProgrammingCable());
    EXPECT_EQ(h.listing->calls, 1); // refused from the plan, without connecting
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.verify(h.firmware, 0x4000, nullptr); }),
              FlasherError::noProgrammingCable());
    EXPECT_EQ(h.listing->calls, 3); // the plan's look, then connect's
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.readApplication(nullptr); }),
              FlasherError::noProgrammingCable());
    EXPECT_EQ(h.link->openCount(), 0);
    EXPECT_TRUE(h.link->commands().empty());

    // An image that is no firmware is refused before any port is looked at.
    h.listing->calls = 0;
    const FirmwareImage cut{h.dir / "cut.bin", Bytes(1000, 0x11)};
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.write(cut, 0x4000, nullptr, true); }),
              FlasherError::firmwareWrongSize(1000, 0x1C000));
    EXPECT_EQ(h.listing->calls, 0);
}

TEST(FlasherOperations, PlanWriteChecksTheFileAndTheRange) {
    FlasherHarness h;
    const FlashPlan plan = h.flasher.planWrite(h.firmware, 0x4000);
    EXPECT_EQ(plan.byteCount(), 114688);
    EXPECT_EQ(plan.port, SimulatedCalculatorTransport::demoPort);
    EXPECT_EQ(plan.image.data, h.image);
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.planWrite(h.firmware, 0x4001); }),
              FlasherError::writeWouldTouchBootloader(0x4001));

    h.flasher.requireExactFirmwareSize = false;
    const auto small = h.dir.write("small.bin", Bytes(0x1000, 0x11));
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.planWrite(small, 0x3000); }),
              FlasherError::writeWouldTouchBootloader(0x3000));
    EXPECT_EQ(h.flasher.planWrite(small, 0x1F000).byteCount(), 0x1000);
    EXPECT_EQ(flasherErrorOf([&] { h.flasher.planWrite(small, 0x1F001); }),
              FlasherError::writeWouldTouchBootloader(0x1F001));

    h.flasher.ports = std::make_shared<CountingListing>(std::vector<SerialPort>{});
    EXPECT_FALSE(h.flasher.planWrite(h.firmware, 0x4000).port.has_value());
    EXPECT_EQ(h.link->openCount(), 0);
}

} // namespace
} // namespace pelwick
