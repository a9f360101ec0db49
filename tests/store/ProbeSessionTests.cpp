#include "SimulatedBench.h"
#include "StoreHarness.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

constexpr const char* cableDetected =
    "Cable detected. Hold ERASE, press RESET, then release ERASE.";

struct ProbeSession {
    ProbeSession() {
        h.store->start();
        h.begin(FlasherMode::probe);
    }

    // Runs the next monitoring pass.
    void pass() { h.platform.advance(1.0); }

    std::shared_ptr<SimulatedBench> bench = SimulatedBench::make();
    StoreHarness h{[bench = bench] { return bench->flasher(); }};
};

} // namespace

TEST(ProbeSession, ReportsEachChangeOnceAndKeepsNoConnection) {
    ProbeSession s;
    auto& store = *s.h.store;
    EXPECT_TRUE(store.isProbeSession());
    EXPECT_EQ(store.selectedMode(), FlasherMode::probe);
    EXPECT_EQ(s.h.platform.settings->writeCount("flasherMode"), 1);
    EXPECT_EQ(store.appTitle(), "Pelwick");

    s.bench->listing->set({});
    s.pass();
    EXPECT_EQ(store.status(), "No programming cable detected");
    EXPECT_FALSE(store.probePortName());

    s.bench->listing->set({SerialPort{"/dev/cu.usbserial-1420"}});
    s.pass();
    EXPECT_EQ(store.status(), cableDetected);
    EXPECT_EQ(store.portPath(), "/dev/cu.usbserial-1420");
    EXPECT_FALSE(store.probePortName());

    s.bench->listing->set({SerialPort{"/dev/cu.usbmodem14101"}});
    s.pass();
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
    EXPECT_EQ(store.probePortName(), "cu.usbmodem14101");
    EXPECT_EQ(store.sambaVersion(), "v1.1 Dec 15 2013 19:03:14");
    EXPECT_FALSE(store.client());
    EXPECT_EQ(s.bench->opens, s.bench->closes);
    EXPECT_FALSE(store.wizard().identitySupported); // the probe never sets it

    // A calculator that stays: every pass connects again, nothing is announced again.
    const int notifications = s.h.notifications;
    const int opens = s.bench->opens;
    s.pass();
    s.pass();
    s.pass();
    EXPECT_EQ(s.bench->opens, opens + 3);
    EXPECT_EQ(s.h.notifications, notifications);
    EXPECT_EQ(std::count(s.h.statuses.begin(), s.h.statuses.end(), "Connected: ATSAM4LC2C"), 1);

    // It leaves programming mode.
    s.bench->allSilent = true;
    s.pass();
    EXPECT_EQ(store.status(), "Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.");
    EXPECT_FALSE(store.identity());
    EXPECT_EQ(store.portPath(), "/dev/cu.usbmodem14101");
    EXPECT_EQ(s.bench->opens, s.bench->closes);
}

TEST(ProbeSession, AFailedAttemptKeepsTheCableHint) {
    ProbeSession s;
    auto& store = *s.h.store;
    s.bench->listing->set({SerialPort{"/dev/cu.usbserial-1420"}});
    s.pass();
    ASSERT_EQ(store.status(), cableDetected);

    s.bench->allSilent = true;
    s.bench->listing->set(
        {SerialPort{"/dev/cu.usbserial-1420"}, SerialPort{"/dev/cu.usbmodem14101"}});
    const int notifications = s.h.notifications;
    s.pass();
    EXPECT_EQ(store.status(), cableDetected);
    EXPECT_EQ(store.portPath(), "/dev/cu.usbmodem14101");
    EXPECT_EQ(s.h.notifications, notifications + 1); // the port path only
    s.pass();
    EXPECT_EQ(s.h.notifications, notifications + 1);
}

TEST(ProbeSession, AnUnsupportedChipIsNamedWithItsError) {
    ProbeSession s;
    auto& store = *s.h.store;
    s.bench->makeUnsupported();
    s.pass();
    EXPECT_EQ(store.status(), "Unsupported chip: ATSAM4LC8C");
    EXPECT_TRUE(store.lastError()->starts_with("Unsupported chip ATSAM4LC8C (CIDR=0xAB0B0AE0"));

    // The cable going away clears the error.
    s.bench->listing->set({});
    s.pass();
    EXPECT_EQ(store.status(), "No programming cable detected");
    EXPECT_FALSE(store.lastError());
    EXPECT_FALSE(store.identity());
}

TEST(ProbeSession, AMonitorThatDoesNotAnswerIsNeverReportedAsNoCable) {
    ProbeSession s;
    s.bench->allSilent = true;
    s.pass();
    EXPECT_EQ(s.h.store->status(),
              "Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.");
    EXPECT_EQ(s.h.store->portPath(), "/dev/cu.usbmodem14101");
}
