#include "samba/SambaFlashApplet.h"

#include "support/FaultInjectingTransport.h"
#include "support/FlasherErrorOf.h"
#include "support/ScriptedTransport.h"

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
// finish the command after `pollsUntilDone` polls. Polls before that either see the command word
// unchanged or, with `silentWhileBusy`, get no reply at all.
struct MailboxMonitor {
    std::map<std::uint32_t, std::uint32_t> words;
    int pollsUntilDone = 1;
    bool silentWhileBusy = false;
    bool finishes = true;
    std::optional<std::uint32_t> pollAnswer; // what every poll reads instead, when set
    std::uint32_t status = 0;
    std::map<std::uint32_t, std::uint32_t> resultsOnDone; // mailbox offset -> value
    int polls = 0;
    bool running = false;
    std::size_t payloadRemaining = 0;

    Bytes respond(const Bytes& written) {
        const std::string text(written.begin(), written.end());
        if (payloadRemaining > 0) {
            payloadRemaining -= std::min(payloadRemaining, written.size());
            return {};
        }
        unsigned address = 0, value = 0;
        if (std::sscanf(text.c_str(), "W%8X,%8X#", &address, &value) == 2) {
            words[address] = value;
        } else if (std::sscanf(text.c_str(), "S%8X,%8X#", &address, &value) == 2) {
            payloadRemaining = value;
        } else if (text == "G20002000#") {
            running = true;
            polls = 0;
        } else if (std::sscanf(text.c_str(), "w%8X,4#", &address) == 1) {
            if (address == kMailbox && pollAnswer) {
                words[kMailbox] = *pollAnswer;
            } else if (address == kMailbox && running && ++polls >= pollsUntilDone && finishes) {
                running = false;
                for (const auto& [offset, result] : resultsOnDone) {
                    words[kMailbox + offset] = result;
                }
                words[kMailbox + 4] = status;
                words[kMailbox] ^= 0xFFFFFFFF;
            } else if (address == kMailbox && running && silentWhileBusy) {
                return {};
            }
            const auto word = words.count(address) ? words[address] : 0u;
            return {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                    static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
        }
        return {};
    }
};

// What the SAM4L applet reports after INIT, by default with a larger buffer so that size checks
// can be seen.
std::map<std::uint32_t, std::uint32_t> initResults(std::uint32_t bufferSize = 0x1000,
                                                   std::uint32_t bufferAddress = 0x20003000) {
    return {{0x08, 0x20000}, {0x0C, bufferAddress}, {0x10, bufferSize}, {0x14, 0x00102000},
            {0x18, 0x200},   {0x1C, 0x100},         {0x20, 0x20}};
}

struct AppletHarness {
    std::shared_ptr<ScriptedTransport> transport = std::make_shared<ScriptedTransport>();
    MailboxMonitor monitor;
    std::vector<double> sleeps;
    SambaClient client;

    AppletHarness()
        : client(std::make_unique<SharedTransport>(transport),
                 [this](double seconds) { sleeps.push_back(seconds); }) {
        transport->responder = [this](const Bytes& written) { return monitor.respond(written); };
    }

    std::vector<std::string> commands() const { return transport->commands(); }

    // Runs INIT against the usual geometry and forgets the commands it took.
    SambaFlashApplet initializedApplet() {
        SambaFlashApplet applet(client, 0);
        monitor.resultsOnDone = initResults();
        applet.initialize(0, 0, 0);
        transport->writes.clear();
        sleeps.clear();
        return applet;
    }
};

std::string appletTimeoutText(const std::string& command) {
    return "Timed out waiting for the SAM-BA flash applet (command 0x" + command +
           "). Leave the cable plugged in. If Status is not Connected, hold ERASE, press RESET, "
           "then release ERASE.";
}

TEST(SambaFlashApplet, UploadSendsTheImageAsOneBlockAfterDiscardingInput) {
    AppletHarness h;
    h.transport->queue(std::string("stale"));
    SambaFlashApplet applet(h.client, 0);
    applet.upload();

    ASSERT_EQ(h.transport->writes.size(), 2u);
    EXPECT_EQ(std::string(h.transport->writes[0].begin(), h.transport->writes[0].end()),
              "S20002000,00000A5C#");
    EXPECT_THAT(h.transport->writes[1], ElementsAreArray(SambaFlashApplet::image()));
    // The stale bytes were dropped before the upload, so they cannot be taken for a reply.
    EXPECT_TRUE(h.transport->read(64, 0).empty());
    EXPECT_TRUE(h.sleeps.empty());
}

TEST(SambaFlashApplet, InitializeWritesTheMailboxRunsAndReadsTheResultsInOrder) {
    AppletHarness h;
    h.monitor.pollsUntilDone = 3;
    h.monitor.resultsOnDone = initResults(0x200, 0x20002A88);
    SambaFlashApplet applet(h.client, 0);
    EXPECT_FALSE(applet.info().has_value());

    const SambaAppletInfo info = applet.loadAndInitialize(1, 2, 3);

    const std::vector<std::string> expected = {
        "S20002000,00000A5C#", "W20002040,00000000#", "W20002044,00000000#", "W20002048,00000001#",
        "W2000204C,00000002#", "W20002050,00000003#", "G20002000#",          "w20002040,4#",
        "w20002040,4#",        "w20002040,4#",        "w20002044,4#",        "w20002054,4#",
        "w20002048,4#",        "w2000204C,4#",        "w20002050,4#",        "w20002058,4#",
        "w2000205C,4#",        "w20002060,4#",
    };
    EXPECT_EQ(h.commands(), expected);
    const SambaAppletInfo want{0x20000, 0x20002A88, 0x200, 0x200, 0x100, 0x20, 0x2000, 16};
    EXPECT_EQ(info, want);
    EXPECT_EQ(applet.info(), want);
    EXPECT_TRUE(h.sleeps.empty());
}

TEST(SambaFlashApplet, InitializeRefusesAnEmptyBufferAndKeepsNoInfo) {
    for (const std::uint32_t emptyOffset : {0x0Cu, 0x10u, 0x18u}) {
        AppletHarness h;
        h.monitor.resultsOnDone = initResults();
        h.monitor.resultsOnDone[emptyOffset] = 0;
        SambaFlashApplet applet(h.client, 0);
        const FlasherError error = flasherErrorOf([&] { applet.initialize(0, 0, 0); });
        EXPECT_EQ(error, FlasherError::sambaProtocol("applet INIT returned an empty buffer"))
            << "offset " << emptyOffset;
        EXPECT_FALSE(applet.info().has_value());
        // All seven results were read before the check.
        EXPECT_EQ(h.commands().back(), "w20002060,4#");
    }
}

TEST(SambaFlashApplet, WriteSendsTheBufferThenTheMailboxAndReturnsTheReportedCount) {
    AppletHarness h;
    SambaFlashApplet applet = h.initializedApplet();
    h.monitor.resultsOnDone = {{0x08, 0x123}};
    const Bytes data(600, 0xA7);

    EXPECT_EQ(applet.write(0x4000, data), 0x123u);

    EXPECT_THAT(h.commands(),
                ElementsAre("S20003000,00000258#", "W20002040,00000002#", "W20002044,00000000#",
                            "W20002048,20003000#", "W2000204C,00000258#", "W20002050,00004000#",
                            "G20002000#", "w20002040,4#", "w20002044,4#", "w20002048,4#"));
    EXPECT_EQ(h.transport->writes[1], data);
    // The completed command word is the complement of WRITE.
    EXPECT_EQ(h.monitor.words[kMailbox], 0xFFFFFFFDu);
}

TEST(SambaFlashApplet, WriteChecksOffsetStateAndSizeBeforeSendingAnything) {
    {
        AppletHarness h;
        SambaFlashApplet applet(h.client, 0);
        // The bootloader check comes first, even before the applet is initialised.
        EXPECT_EQ(flasherErrorOf([&] { applet.write(0x3FFF, Bytes(16, 0)); }),
                  FlasherError::writeWouldTouchBootloader(0x3FFF));
        EXPECT_EQ(flasherErrorOf([&] { applet.write(0x4000, Bytes(16, 0)); }),
                  FlasherError::sambaProtocol("flash applet is not initialized"));
        EXPECT_TRUE(h.transport->writes.empty());
    }
    AppletHarness h;
    SambaFlashApplet applet = h.initializedApplet();
    EXPECT_EQ(flasherErrorOf([&] { applet.write(0x3FFF, Bytes(16, 0)); }),
              FlasherError::writeWouldTouchBootloader(0x3FFF));
    EXPECT_EQ(flasherErrorOf([&] { applet.write(0x4000, Bytes(5000, 0)); }).errorDescription(),
              "SAM-BA protocol error: applet WRITE size 5000 exceeds buffer 4096");
    EXPECT_EQ(flasherErrorOf([&] { applet.write(0x4000, Bytes()); }),
              FlasherError::sambaProtocol("applet WRITE size 0 exceeds buffer 4096"));
    EXPECT_TRUE(h.transport->writes.empty());

    // The lowest application address and a buffer of exactly the applet's size are accepted.
    EXPECT_NO_THROW(applet.write(0x4000, Bytes(4096, 0)));
    EXPECT_EQ(h.commands().front(), "S20003000,00001000#");
}

TEST(SambaFlashApplet, UnlockWritesTheRegionAndRuns) {
    AppletHarness h;
    SambaFlashApplet applet(h.client, 0);
    applet.unlockRegion(11);
    EXPECT_THAT(h.commands(),
                ElementsAre("W20002040,00000005#", "W20002044,00000000#", "W20002048,0000000B#",
                            "G20002000#", "w20002040,4#", "w20002044,4#"));
}

TEST(SambaFlashApplet, GoDelaySettlesPacesPollsAndSlowsTheClientsBlocks) {
    const std::vector<std::pair<double, std::vector<double>>> cases = {
        {0.5, {0.5, 1.0, 1.0}}, {0.05, {0.1, 1.0, 1.0}}, {0.0, {}}};
    for (const auto& [goDelay, sleeps] : cases) {
        AppletHarness h;
        h.monitor.pollsUntilDone = 3;
        SambaFlashApplet applet(h.client, goDelay);
        applet.unlockRegion(2);
        EXPECT_EQ(h.sleeps, sleeps) << "goDelay " << goDelay;
    }

    AppletHarness paced;
    SambaFlashApplet applet(paced.client, 0.5);
    EXPECT_DOUBLE_EQ(paced.client.afterSendDelay(), 0.02);
    applet.upload();
    EXPECT_EQ(paced.sleeps, std::vector<double>{0.02});

    for (const double goDelay : {0.0, -1.0}) {
        AppletHarness unchanged;
        unchanged.client.setAfterSendDelay(0.7);
        SambaFlashApplet quiet(unchanged.client, goDelay);
        EXPECT_DOUBLE_EQ(unchanged.client.afterSendDelay(), 0.7);
    }
}

TEST(SambaFlashApplet, AnAppletThatNeverFinishesUsesUpItsPollBudget) {
    struct Case {
        double goDelay;
        SambaAppletCommand command;
        int polls;
        const char* code;
    };
    for (const Case& c : {Case{0, SambaAppletCommand::write, 10, "2"},
                          Case{0.5, SambaAppletCommand::write, 10, "2"},
                          Case{0.5, SambaAppletCommand::erasePage, 25, "44"},
                          Case{0, SambaAppletCommand::initialize, 10, "0"}}) {
        AppletHarness h;
        h.monitor.finishes = false;
        SambaFlashApplet applet(h.client, c.goDelay);
        const FlasherError error = flasherErrorOf([&] { applet.run(c.command, 12.0); });
        EXPECT_EQ(error, FlasherError::sambaTimeout(appletTimeoutText(c.code)));
        const auto commands = h.commands();
        EXPECT_EQ(commands.front(), "G20002000#");
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "w20002040,4#"), c.polls);
        // With a settle time the polls are a second apart; the last poll is not followed by one.
        if (c.goDelay > 0) {
            std::vector<double> expected{0.5};
            expected.insert(expected.end(), static_cast<std::size_t>(c.polls - 1), 1.0);
            EXPECT_EQ(h.sleeps, expected);
        } else {
            EXPECT_TRUE(h.sleeps.empty());
        }
    }
}

TEST(SambaFlashApplet, PollsThatGetNoReplyOrAStaleWordCountAsNotFinished) {
    AppletHarness h;
    h.monitor.pollsUntilDone = 4;
    h.monitor.silentWhileBusy = true;
    SambaFlashApplet applet(h.client, 0);
    EXPECT_NO_THROW(applet.unlockRegion(3));
    const auto commands = h.commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "w20002040,4#"), 4);

    // The complement of another command (INIT's, left in the mailbox) is not completion.
    AppletHarness stale;
    SambaFlashApplet staleApplet = stale.initializedApplet();
    stale.monitor.pollAnswer = 0xFFFFFFFF;
    EXPECT_EQ(flasherErrorOf([&] { staleApplet.write(0x4000, Bytes(512, 1)); }),
              FlasherError::sambaTimeout(appletTimeoutText("2")));

    // A deadline already passed stops before the first poll.
    AppletHarness late;
    SambaFlashApplet lateApplet(late.client, 0);
    EXPECT_EQ(flasherErrorOf([&] { lateApplet.run(SambaAppletCommand::unlock, 0); }),
              FlasherError::sambaTimeout(appletTimeoutText("5")));
    EXPECT_THAT(late.commands(), ElementsAre("G20002000#"));
}

TEST(SambaFlashApplet, APollAnsweredLateShiftsNeitherTheNextPollNorTheStatus) {
    // The monitor is busy past the first poll's time-out and answers it late, together with the
    // second poll; at the cable's pace and without pauses.
    for (const double goDelay : {0.01, 0.0}) {
        auto scripted = std::make_shared<ScriptedTransport>();
        MailboxMonitor monitor;
        scripted->responder = [&](const Bytes& written) { return monitor.respond(written); };
        auto line =
            std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(scripted));
        line->injectWhen(FaultInjectingTransport::nthCommandStartingWith("w20002040"),
                         Fault::replyLate);
        SambaClient client(std::make_unique<SharedTransport>(line), [](double) {});
        SambaFlashApplet applet(client, goDelay);
        EXPECT_NO_THROW(applet.unlockRegion(2)) << "goDelay " << goDelay;
        EXPECT_TRUE(line->triggered());
        EXPECT_EQ(line->commands().back(), "w20002044,4#");
    }
}

TEST(SambaFlashApplet, AFastPaceFallsBackOnceWhenTheCalculatorDoesNotKeepUp) {
    struct Case {
        const char* what;
        int pollsUntilDone;
        bool silentWhileBusy;
        bool garbledFirstPoll;
        int polls;
        std::vector<double> unlockSleeps;
        bool fallsBack;
    };
    for (const Case& c : {
             Case{"keeps up, polls back to back", 3, false, false, 3, {}, false},
             Case{"a poll times out", 3, true, false, 3, {1.0, 1.0}, true},
             Case{"a poll reads a garbled word", 1, false, true, 2, {1.0}, true},
             Case{"the polls are used up", 12, false, false, 12, {1.0, 1.0}, true},
         }) {
        auto scripted = std::make_shared<ScriptedTransport>();
        MailboxMonitor monitor;
        monitor.pollsUntilDone = c.pollsUntilDone;
        monitor.silentWhileBusy = c.silentWhileBusy;
        scripted->responder = [&](const Bytes& written) { return monitor.respond(written); };
        auto line =
            std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(scripted));
        if (c.garbledFirstPoll) {
            line->injectWhen(FaultInjectingTransport::nthCommandStartingWith("w20002040"),
                             Fault::wrongReplyByte);
        }
        std::vector<double> sleeps;
        SambaClient client(std::make_unique<SharedTransport>(line),
                           [&](double seconds) { sleeps.push_back(seconds); });
        client.setAfterSendDelay(0.7);
        std::vector<std::string> notices;
        SambaFlashApplet applet(
            client, TransferPace(0.01, TransferPace::Mode::fast,
                                 [&](const std::string& notice) { notices.push_back(notice); }));
        EXPECT_DOUBLE_EQ(client.afterSendDelay(), 0.0) << c.what;

        EXPECT_NO_THROW(applet.unlockRegion(2)) << c.what;
        // Only the polls the applet needed were sent: a fallback repeats nothing.
        const auto commands = line->commands();
        EXPECT_EQ(std::count(commands.begin(), commands.end(), "w20002040,4#"), c.polls) << c.what;
        EXPECT_EQ(sleeps, c.unlockSleeps) << c.what;
        const std::vector<std::string> notice{TransferPace::fallbackNotice};
        EXPECT_EQ(notices, c.fallsBack ? notice : std::vector<std::string>{}) << c.what;

        // What follows keeps the pace: none, or the standard pauses after a block and a start.
        sleeps.clear();
        monitor.pollsUntilDone = 1;
        applet.upload();
        applet.unlockRegion(3);
        const std::vector<double> standard{0.02, 0.1};
        EXPECT_EQ(sleeps, c.fallsBack ? standard : std::vector<double>{}) << c.what;
        EXPECT_EQ(notices.size(), c.fallsBack ? 1u : 0u) << c.what;
    }
}

TEST(SambaFlashApplet, AFailedStatusOrALostCableEndsTheRunAtOnce) {
    AppletHarness h;
    SambaFlashApplet applet = h.initializedApplet();
    h.monitor.status = 0x10;
    EXPECT_EQ(flasherErrorOf([&] { applet.write(0x4000, Bytes(512, 1)); }),
              FlasherError::appletFailed(0x10));
    EXPECT_EQ(h.commands().back(), "w20002044,4#");

    // A poll that fails for another reason than a time-out is not retried.
    auto scripted = std::make_shared<ScriptedTransport>();
    MailboxMonitor monitor;
    monitor.finishes = false;
    scripted->responder = [&](const Bytes& written) { return monitor.respond(written); };
    auto faulty =
        std::make_shared<FaultInjectingTransport>(std::shared_ptr<ByteTransport>(scripted));
    faulty->injectWhen(FaultInjectingTransport::nthCommandStartingWith("w20002040", 2),
                       Fault::cableGone);
    SambaClient client(std::make_unique<SharedTransport>(faulty), [](double) {});
    SambaFlashApplet unplugged(client, 0);
    EXPECT_EQ(flasherErrorOf([&] { unplugged.unlockRegion(4); }), FlasherError::serialPortClosed());
    EXPECT_EQ(faulty->commands().back(), "w20002040,4#");
    EXPECT_EQ(faulty->commands().size(), 6u);
}

} // namespace
} // namespace pelwick
