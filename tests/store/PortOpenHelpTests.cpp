#include "SimulatedBench.h"
#include "StoreHarness.h"

#include "device/FlasherError.h"
#include "device/SerialOpenHelp.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>

using namespace pelwick;
using namespace pelwick::testing;

namespace {

constexpr const char* waitingHint =
    "Waiting for SAM-BA. Hold ERASE, press RESET, then release ERASE.";

const UsbIdentity sambaMonitor{0x03EB, 0x6124, "ATMEL", "SAM-BA", ""};

// A FLASH session on a bench whose port opens can be refused with a chosen errno, the way the
// serial link refuses them (the reason travels with the error).
struct RefusingCable {
    RefusingCable() {
        // A real node, so the help can name its group.
        port = folder.write("ttyACM1", {}).string();
        bench->listing->set(
            {SerialPort{(folder / "ttyACM0").string()}, SerialPort{port, sambaMonitor}});
        h.begin(FlasherMode::flash);
    }

    Flasher flasher() {
        Flasher flasher = bench->flasher();
        flasher.openTransport = [open = flasher.openTransport,
                                 refused = refused](const SerialPort& at) {
            if (const int reason = *refused) {
                throw FlasherError::serialOpenFailed(at.path, reason);
            }
            return open(at);
        };
        return flasher;
    }

    TempDir folder;
    std::string port;
    std::shared_ptr<std::atomic<int>> refused = std::make_shared<std::atomic<int>>(EACCES);
    std::shared_ptr<SimulatedBench> bench = SimulatedBench::make();
    StoreHarness h{[this] { return flasher(); }};
};

} // namespace

TEST(PortOpenHelp, ARefusedPortGetsHelpBesideTheUnchangedStatus) {
    RefusingCable s;
    auto& store = *s.h.store;
    store.start();
    store.advance(); // to the programming-mode step; its pass tries the port
    s.h.platform.settle();

    // The confirmed monitor is the port named and tried, though ttyACM0 sorts first.
    EXPECT_EQ(store.status(), waitingHint);
    EXPECT_EQ(store.portPath(), s.port);
    EXPECT_EQ(store.portUsbIdentity(), sambaMonitor);
    const auto help = store.portOpenHelp();
    ASSERT_TRUE(help);
    EXPECT_EQ(help, serialOpenHelp(s.port, EACCES));
    EXPECT_NE(help->find("belongs to the group"), std::string::npos) << *help;
    EXPECT_FALSE(store.lastError()); // the pass itself reports no error
    EXPECT_FALSE(store.lastErrorHelp());

    // Busy is another reason, with its own line.
    *s.refused = EBUSY;
    s.h.platform.advance(1.0);
    EXPECT_EQ(store.status(), waitingHint);
    EXPECT_EQ(store.portOpenHelp(), "The port " + s.port +
                                        " is in use by another program (perhaps another "
                                        "Pelwick); close it and try again.");

    // Once the port opens the help goes; the identity stays with the port.
    *s.refused = 0;
    s.h.platform.advance(1.0);
    EXPECT_EQ(store.status(), "Connected: ATSAM4LC2C");
    EXPECT_FALSE(store.portOpenHelp());
    EXPECT_EQ(store.portUsbIdentity(), sambaMonitor);

    // Unplugged: no port, nothing to help with.
    *s.refused = EACCES;
    s.bench->listing->set({});
    s.h.platform.advance(1.0);
    EXPECT_FALSE(store.portPath());
    EXPECT_FALSE(store.portOpenHelp());
    EXPECT_FALSE(store.portUsbIdentity());
}

TEST(PortOpenHelp, AnOperationThatCannotReopenThePortShowsTheHelpUnderItsError) {
    RefusingCable s;
    auto& store = *s.h.store;
    // One port: a connection reports the error of the last port it tried.
    s.bench->listing->set({SerialPort{s.port, sambaMonitor}});
    *s.refused = 0;
    store.advance();
    s.h.platform.settle();
    ASSERT_TRUE(store.client());

    // The kept connection dies and the port is no longer ours: the reconnect before the read
    // fails with the specified text, and the help comes with it.
    s.bench->silenceOpenConnections();
    *s.refused = EACCES;
    store.advance(); // the backup step reads the calculator
    s.h.platform.advance(2.0);
    EXPECT_EQ(store.status(), "Operation failed.");
    EXPECT_EQ(store.lastError(), "Could not open serial port " + s.port + ".");
    EXPECT_EQ(store.lastErrorHelp(), serialOpenHelp(s.port, EACCES));

    // Another error gets no such help.
    *s.refused = 0;
    s.bench->allSilent = true;
    store.checkCurrentFirmware();
    s.h.platform.advance(2.0);
    ASSERT_TRUE(store.lastError());
    EXPECT_NE(*store.lastError(), "Could not open serial port " + s.port + ".");
    EXPECT_FALSE(store.lastErrorHelp());
}
