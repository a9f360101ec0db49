#include "samba/SambaFlashApplet.h"

#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/ScriptedTransport.h"
#include "support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace pelwick {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using testing::Fault;
using testing::FaultInjectingTransport;
using testing::flasherErrorOf;
using testing::ScriptedTransport;

constexpr std::uint32_t kMailbox = SambaFlashApplet::mailboxAddress;

// A monitor with a mailbox: "W" stores words, "w" answers them, and "G20002000#" lets the applet
// finish the command at the `pollsUntilDone`-th poll (never, with 0). Polls before that see the
// command word unchanged or, with `silentWhileBusy`, get no reply; with `pollAnswer` every poll
// reads that word.
struct MailboxMonitor {
    std::map<std::uint32_t, std::uint32_t> words;
    int pollsUntilDone = 1;
    bool silentWhileBusy = false;
    std::optional<std::uint32_t> pollAnswer;
    std::uint32_t status = 0;
    std::map<std::uint32_t, std::uint32_t> resultsOnDone; // mailbox offset -> value
    int polls = 0;
    std::size_t payloadRemaining = 0;

    Bytes respond(const Bytes& written) {
        const std::string text(written.begin(), written.end());
        unsigned address = 0, value = 0;
        if (payloadRemaining > 0) {
            payloadRemaining -= std::min(payloadRemaining, written.size());
        } else if (std::sscanf(text.c_str(), "W%8X,%8X#", &address, &value) == 2) {
            words[address] = value;
        } else if (std::sscanf(text.c_str(), "S%8X,%8X#", &address, &value) == 2) {
            payloadRemaining = value;
        } else if (text == "G20002000#") {
            polls = 0;
        } else if (std::sscanf(text.c_str(), "w%8X,4#", &address) == 1) {
            if (address == kMailbox && pollAnswer) {
                words[kMailbox] = *pollAnswer;
            } else if (address == kMailbox && ++polls == pollsUntilDone) {
                for (const auto& [offset, result] : resultsOnDone) {
                    words[kMailbox + offset] = result;
                }
                words[kMailbox + 4] = status;
                words[kMailbox] ^= 0xFFFFFFFF;
            } else if (address == kMailbox && silentWhileBusy && polls < pollsUntilDone) {
                return {};
            }
            const std::uint32_t word = words[address];
            return {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                    static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
        }
        return {};
    }
};

// What the SAM4L applet reports after INIT, with a larger buffer so that size checks show.
const std::map<std::uint32_t, std::uint32_t> kInitResults = {
    {0x08, 0x20000}, {0x0C, 0x20003000}, {0x10, 0x1000}, {0x14, 0x00102000},
    {0x18, 0x200},   {0x1C, 0x100},      {0x20, 0x20}};

// The monitor behind a scripted transport (and a fault injector), a client that records its
// pauses, and an applet at `pace`.
struct AppletHarness {
    MailboxMonitor monitor;
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    std::shared_ptr<FaultInjectingTransport> link =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(transport));
    std::vector<double> sleeps;
    SambaClient client{std::make_unique<SharedTransport>(link),
                       [this](double seconds) { sleeps.push_back(seconds); }};
    std::vector<std::string> notices;
    SambaFlashApplet applet;

    explicit AppletHarness(double settle = 0,
                           TransferPace::Mode pace = TransferPace::Mode::standard)
        : applet(client, TransferPace(settle, pace, [this](const std::string& notice) {
                     notices.push_back(notice);
                 })) {
        transport->responder = [this](const Bytes& written) { return monitor.respond(written); };
    }

    // Runs INIT against the usual geometry and forgets what it sent.
    AppletHarness& initialized() {
        monitor.resultsOnDone = kInitResults;
        applet.initialize(0, 0, 0);
        transport->writes.clear();
        sleeps.clear();
        return *this;
    }
    std::vector<std::string> commands() const { return transport->commands(); }
    long polls() const {
        const auto all = commands();
        return std::count(all.begin(), all.end(), "w20002040,4#");
    }
};

TEST(SambaFlashApplet, UploadDropsStaleInputAndInitRefusesAResultWithoutABuffer) {
    AppletHarness h;
    h.transport->queue(testing::bytes("stale"));
    h.applet.upload();
    // The stale bytes were dropped before the upload, so they cannot be taken for a reply.
    EXPECT_TRUE(h.transport->read(64, 0).empty());
    EXPECT_THAT(h.transport->writes[1], ElementsAreArray(SambaFlashApplet::image()));

    // A result that leaves no buffer is refused, after all seven were read.
    for (const std::uint32_t emptyOffset : {0x0Cu, 0x10u, 0x18u}) {
        AppletHarness empty;
        empty.monitor.resultsOnDone = kInitResults;
        empty.monitor.resultsOnDone[emptyOffset] = 0;
        EXPECT_EQ(flasherErrorOf([&] { empty.applet.initialize(0, 0, 0); }).kind(),
                  FlasherError::Case::sambaProtocol);
        EXPECT_FALSE(empty.applet.info().has_value());
        EXPECT_EQ(empty.commands().back(), "w20002060,4#");
    }
}

TEST(SambaFlashApplet, WriteChecksOffsetStateAndSizeBeforeSendingAnything) {
    AppletHarness fresh;
    // The bootloader check comes first, even before the applet is initialised.
    EXPECT_EQ(flasherErrorOf([&] { fresh.applet.write(0x3FFF, Bytes(16, 0)); }),
              FlasherError::writeWouldTouchBootloader(0x3FFF));
    EXPECT_EQ(flasherErrorOf([&] { fresh.applet.write(0x4000, Bytes(16, 0)); }).kind(),
              FlasherError::Case::sambaProtocol);
    AppletHarness h;
    h.initialized();
    EXPECT_EQ(flasherErrorOf([&] { h.applet.write(0x3FFF, Bytes(16, 0)); }),
              FlasherError::writeWouldTouchBootloader(0x3FFF));
    for (const std::size_t size : {5000, 0}) {
        EXPECT_EQ(flasherErrorOf([&] { h.applet.write(0x4000, Bytes(size, 0)); }),
                  FlasherError::sambaProtocol("applet WRITE size " + std::to_string(size) +
                                              " exceeds buffer 4096"));
    }
    EXPECT_TRUE(fresh.transport->writes.empty() && h.transport->writes.empty());
    // The lowest application address and a buffer of exactly the applet's size are accepted.
    EXPECT_NO_THROW(h.applet.write(0x4000, Bytes(4096, 0)));
}

TEST(SambaFlashApplet, AnAppletThatNeverFinishesUsesUpItsPollBudget) {
    for (const double settle : {0.0, 0.5}) {
        AppletHarness h(settle);
        h.monitor.pollsUntilDone = 0;
        EXPECT_EQ(flasherErrorOf([&] { h.applet.run(SambaAppletCommand::write, 12.0); }).kind(),
                  FlasherError::Case::sambaTimeout);
        EXPECT_EQ(h.polls(), 10);
        // With a settle time the start is followed by it and the polls are a second apart.
        std::vector<double> expected;
        if (settle > 0) {
            expected.assign(10, 1.0);
            expected.front() = settle;
        }
        EXPECT_EQ(h.sleeps, expected);
    }
    // A deadline already passed stops before the first poll.
    AppletHarness late;
    EXPECT_EQ(flasherErrorOf([&] { late.applet.run(SambaAppletCommand::unlock, 0); }).kind(),
              FlasherError::Case::sambaTimeout);
    EXPECT_THAT(late.commands(), ElementsAre("G20002000#"));
}

TEST(SambaFlashApplet, PollsThatGetNoReplyOrAStaleWordCountAsNotFinished) {
    AppletHarness h;
    h.monitor.pollsUntilDone = 4;
    h.monitor.silentWhileBusy = true;
    EXPECT_NO_THROW(h.applet.unlockRegion(3));
    EXPECT_EQ(h.polls(), 4);

    // The complement of another command (INIT's, left in the mailbox) is not completion.
    AppletHarness stale;
    stale.initialized().monitor.pollAnswer = 0xFFFFFFFF;
    EXPECT_EQ(flasherErrorOf([&] { stale.applet.write(0x4000, Bytes(512, 1)); }).kind(),
              FlasherError::Case::sambaTimeout);

    // A poll answered late, together with the next poll, shifts neither that poll nor the
    // status; at the cable's pace and without pauses.
    for (const double settle : {0.01, 0.0}) {
        AppletHarness late(settle);
        late.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("w20002040"),
                              Fault::replyLate);
        EXPECT_NO_THROW(late.applet.unlockRegion(2)) << "settle " << settle;
        EXPECT_TRUE(late.link->triggered());
        EXPECT_EQ(late.commands().back(), "w20002044,4#");
    }
}

TEST(SambaFlashApplet, AFastPaceFallsBackOnceWhenTheCalculatorDoesNotKeepUp) {
    struct Case {
        const char* what;
        double settle;
        int pollsUntilDone;
        bool silentWhileBusy;
        bool garbledFirstPoll;
        std::vector<double> unlockSleeps;
    };
    for (const Case& c : {
             Case{"keeps up, polls back to back", 0.01, 3, false, false, {}},
             Case{"a poll times out", 0.01, 3, true, false, {1.0, 1.0}},
             Case{"a poll reads a garbled word", 0.01, 2, false, true, {1.0}},
             Case{"the polls are used up", 0.01, 12, false, false, {1.0, 1.0}},
             // Without a settle time there are no pauses to leave out, and none to fall back to.
             Case{"a poll times out, no settle time", 0, 3, true, false, {}},
         }) {
        AppletHarness h(c.settle, TransferPace::Mode::fast);
        h.monitor.pollsUntilDone = c.pollsUntilDone;
        h.monitor.silentWhileBusy = c.silentWhileBusy;
        if (c.garbledFirstPoll) {
            h.link->injectWhen(FaultInjectingTransport::nthCommandStartingWith("w20002040"),
                               Fault::wrongReplyByte);
        }
        EXPECT_DOUBLE_EQ(h.client.afterSendDelay(), 0.0) << c.what;
        EXPECT_NO_THROW(h.applet.unlockRegion(2)) << c.what;
        // Only the polls the applet needed were sent: a fallback repeats nothing.
        EXPECT_EQ(h.polls(), c.pollsUntilDone) << c.what;
        EXPECT_EQ(h.sleeps, c.unlockSleeps) << c.what;
        const bool fellBack = !c.unlockSleeps.empty();
        EXPECT_EQ(h.notices.size(), fellBack ? 1u : 0u) << c.what;

        // What follows keeps the pace: none, or the standard pauses after a block and a start.
        h.sleeps.clear();
        h.monitor.pollsUntilDone = 1;
        h.applet.upload();
        h.applet.unlockRegion(3);
        const std::vector<double> standard{0.02, 0.1};
        EXPECT_EQ(h.sleeps, fellBack ? standard : std::vector<double>()) << c.what;
        EXPECT_EQ(h.notices.size(), fellBack ? 1u : 0u) << c.what;
    }
}

TEST(SambaFlashApplet, AFailedStatusEndsTheRunAtOnce) {
    AppletHarness h;
    h.initialized().monitor.status = 0x10;
    EXPECT_EQ(flasherErrorOf([&] { h.applet.write(0x4000, Bytes(512, 1)); }),
              FlasherError::appletFailed(0x10));
    EXPECT_EQ(h.commands().back(), "w20002044,4#");
}

} // namespace
} // namespace pelwick
