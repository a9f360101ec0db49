#include "device/POSIXSerialLink.h"
#include "device/FlasherError.h"
#include "support/ChildProcess.h"
#include "support/FlasherErrorOf.h"
#include "support/PseudoTerminal.h"
#include "util/Clock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace pelwick {
namespace {

using testing::flasherErrorOf;
using testing::PseudoTerminal;

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

double secondsSince(MonotonicClock::time_point start) {
    return std::chrono::duration<double>(MonotonicClock::now() - start).count();
}

TEST(POSIXSerialLink, ConfiguresARawLineAt115200) {
    PseudoTerminal pty;
    POSIXSerialLink link(pty.slavePath(), 115200);
    EXPECT_EQ(link.path(), pty.slavePath());
    // On Linux the master reports the slave's settings.
    termios settings{};
    ASSERT_EQ(::tcgetattr(pty.masterFd(), &settings), 0);
    EXPECT_EQ(::cfgetospeed(&settings), B115200);
    EXPECT_EQ(::cfgetispeed(&settings), B115200);
    EXPECT_EQ(settings.c_cflag & (CSIZE | CREAD | CLOCAL), CS8 | CREAD | CLOCAL);
    EXPECT_EQ(settings.c_cflag & (CSTOPB | PARENB | HUPCL | CRTSCTS), 0u);
    EXPECT_EQ(settings.c_lflag & ICANON, 0u);
    EXPECT_EQ(settings.c_cc[VMIN], 0);
    EXPECT_EQ(settings.c_cc[VTIME], 0);
}

TEST(POSIXSerialLink, ReadsExactlyWhatWasAskedAcrossPartialArrivals) {
    PseudoTerminal pty;
    POSIXSerialLink link(pty.slavePath(), 115200);

    // Nothing waiting: one attempt, no wait.
    auto start = MonotonicClock::now();
    EXPECT_TRUE(link.read(64, 0).empty());
    EXPECT_LT(secondsSince(start), 0.1);

    pty.write(bytes("abc"));
    // The terminal hands bytes over through a kernel work queue; give them time to land.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(link.read(64, 0), bytes("abc"));

    // Six bytes for an exact read of four: two stay for the next reader.
    pty.write(bytes("123456"));
    EXPECT_EQ(link.readExactly(4, 1.0), bytes("1234"));
    EXPECT_EQ(link.read(64, 1.0), bytes("56"));

    // A reply that arrives in pieces is collected, and returned as soon as it is complete.
    std::thread peer([&] {
        pty.write(bytes("w"));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.write(bytes("xy"));
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        pty.write(bytes("z!"));
    });
    start = MonotonicClock::now();
    EXPECT_EQ(link.readExactly(4, 2.0), bytes("wxyz"));
    EXPECT_LT(secondsSince(start), 1.0);
    peer.join();
    EXPECT_EQ(link.read(64, 1.0), bytes("!"));

    // Bytes the link writes arrive unchanged (no newline translation on a raw line).
    const Bytes raw{'N', '#', '\r', '\n', 0x00, 0xFF, 0x11, 0x13};
    link.write(raw);
    EXPECT_EQ(pty.read(raw.size(), 1.0), raw);
}

TEST(POSIXSerialLink, SilentPeerTimesOutWhenDueAndKeepsNothingBack) {
    PseudoTerminal pty;
    POSIXSerialLink link(pty.slavePath(), 115200);
    pty.write(bytes("ab"));
    const auto start = MonotonicClock::now();
    EXPECT_EQ(flasherErrorOf([&] { link.readExactly(4, 1.0); }), FlasherError::sambaTimeout(""));
    const double elapsed = secondsSince(start);
    EXPECT_GT(elapsed, 0.95);
    EXPECT_LT(elapsed, 1.5);
    // The two bytes were consumed by the failed read.
    pty.write(bytes("cd"));
    EXPECT_EQ(link.read(64, 1.0), bytes("cd"));

    // A quiet line: discarding waits out its time-out and does not fail.
    const auto quiet = MonotonicClock::now();
    link.discardAvailable(0.2);
    EXPECT_GT(secondsSince(quiet), 0.19);
    EXPECT_LT(secondsSince(quiet), 0.5);
}

TEST(POSIXSerialLink, PeerHangingUpIsACableGoneNeverATimeout) {
    {
        // Idle line, the peer vanishes while the link waits.
        PseudoTerminal pty;
        POSIXSerialLink link(pty.slavePath(), 115200);
        std::thread peer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            pty.closeMaster();
        });
        const auto start = MonotonicClock::now();
        EXPECT_EQ(flasherErrorOf([&] { link.readExactly(4, 3.0); }),
                  FlasherError::serialPortClosed());
        EXPECT_LT(secondsSince(start), 1.0);
        peer.join();
        EXPECT_EQ(flasherErrorOf([&] { link.read(64, 0.5); }), FlasherError::serialPortClosed());
        EXPECT_EQ(flasherErrorOf([&] { link.write(bytes("V#")); }),
                  FlasherError::serialPortClosed());
    }
    {
        // The peer vanishes in the middle of a reply.
        PseudoTerminal pty;
        POSIXSerialLink link(pty.slavePath(), 115200);
        std::thread peer([&] {
            for (int i = 0; i < 10; ++i) {
                pty.write(bytes("0123456789"));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            pty.closeMaster();
        });
        const auto start = MonotonicClock::now();
        EXPECT_EQ(flasherErrorOf([&] { link.readExactly(4096, 3.0); }),
                  FlasherError::serialPortClosed());
        EXPECT_LT(secondsSince(start), 1.0);
        peer.join();
    }
}

TEST(POSIXSerialLink, ClosedLinkAndMissingPortFailWithTheirOwnErrors) {
    PseudoTerminal pty;
    POSIXSerialLink link(pty.slavePath(), 115200);
    link.close();
    link.close();
    EXPECT_EQ(flasherErrorOf([&] { link.read(64, 0.1); }), FlasherError::notConnected());
    EXPECT_EQ(flasherErrorOf([&] { link.readExactly(4, 0.1); }), FlasherError::notConnected());
    const FlasherError writeError = flasherErrorOf([&] { link.write(bytes("V#")); });
    EXPECT_EQ(writeError, FlasherError::sambaProtocol("serial write failed (errno 9)"));
    EXPECT_EQ(writeError.errorDescription(),
              "SAM-BA protocol error: serial write failed (errno 9)");

    const std::string missing = "/dev/pelwick-no-such-port";
    const FlasherError openError = flasherErrorOf([&] { POSIXSerialLink absent(missing, 115200); });
    EXPECT_EQ(openError, FlasherError::serialOpenFailed(missing));
    EXPECT_EQ(openError.errorDescription(), "Could not open serial port " + missing + ".");
    EXPECT_EQ(POSIXSerialLink::lastOpenErrno(), ENOENT);

    // A file that is not a terminal opens but cannot take line settings.
    const FlasherError notTerminal =
        flasherErrorOf([] { POSIXSerialLink file("/dev/null", 115200); });
    EXPECT_EQ(notTerminal, FlasherError::serialOpenFailed("/dev/null"));
}

TEST(POSIXSerialLink, HoldsThePortExclusivelyRootIncluded) {
    PseudoTerminal pty;
    auto first = std::make_unique<POSIXSerialLink>(pty.slavePath(), 115200);
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
    const auto secondOpen = [&]() -> std::string {
        try {
            POSIXSerialLink second(pty.slavePath(), 115200);
            return "opened";
        } catch (const FlasherError& error) {
            return error.openErrno() == EBUSY ? "busy" : "refused";
        }
    };
    // Another process of this user (root passes TIOCEXCL, not the lock) and an ordinary user.
    EXPECT_EQ(testing::inChildProcess([] { return true; }, secondOpen), "busy");
    if (::geteuid() == 0) {
        if (const auto other = testing::asNobody(secondOpen)) {
            EXPECT_EQ(*other, "busy");
        }
    }
    // The refused attempt left the line as it was: what the device sends still arrives.
    pty.write(bytes("ok"));
    EXPECT_EQ(first->readExactly(2, 1.0), bytes("ok"));
    // Closing releases the hold.
    first.reset();
    EXPECT_EQ(testing::inChildProcess([] { return true; }, secondOpen), "opened");
}

TEST(POSIXSerialLink, WaitsForTheLineToDrainButNotForEver) {
    PseudoTerminal pty;
    // The device takes the bytes slowly (the count falls every 40 ms), then not at all.
    int queued = 0;
    auto lastTaken = MonotonicClock::now();
    bool taking = true;
    SerialLinkOptions options;
    options.stallSeconds = 0.3;
    options.pendingOutput = [&](int) {
        if (taking && queued > 0 && secondsSince(lastTaken) > 0.04) {
            queued -= 1;
            lastTaken = MonotonicClock::now();
        }
        return queued;
    };
    POSIXSerialLink link(pty.slavePath(), 115200, options);
    queued = 10; // each 40 ms apart: longer than the stall limit in all, shorter each
    auto start = MonotonicClock::now();
    link.write(bytes("S#"));
    EXPECT_EQ(queued, 0);
    EXPECT_GT(secondsSince(start), 0.3);

    taking = false;
    queued = 3;
    start = MonotonicClock::now();
    EXPECT_EQ(flasherErrorOf([&] { link.write(bytes("V#")); }), FlasherError::sambaTimeout());
    EXPECT_GT(secondsSince(start), 0.29);
    EXPECT_EQ(pty.read(4, 1.0), bytes("S#V#"));
}

TEST(POSIXSerialLink, LargeWriteArrivesCompleteAndInOrderToASlowReader) {
    PseudoTerminal pty;
    POSIXSerialLink link(pty.slavePath(), 115200);
    Bytes block(100 * 1024);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    }
    Bytes received;
    std::thread peer([&] {
        while (received.size() < block.size()) {
            const Bytes piece =
                pty.read(std::min<std::size_t>(1024, block.size() - received.size()), 2.0);
            if (piece.empty()) {
                break;
            }
            received.insert(received.end(), piece.begin(), piece.end());
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    });
    link.write(block);
    peer.join();
    EXPECT_EQ(received.size(), block.size());
    EXPECT_TRUE(received == block);
}

} // namespace
} // namespace pelwick
