#include "device/POSIXSerialLink.h"
#include "device/FlasherError.h"
#include "support/ChildProcess.h"
#include "support/FlasherErrorOf.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"
#include "util/Clock.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <future>
#include <sys/stat.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

namespace pelwick {
namespace {

using testing::flasherErrorOf;
using testing::PseudoTerminal;

using testing::bytes;

double secondsSince(MonotonicClock::time_point start) {
    return std::chrono::duration<double>(MonotonicClock::now() - start).count();
}

TEST(POSIXSerialLink, ConfiguresARawLineAt115200) {
    PseudoTerminal pty;
    POSIXSerialLink link(pty.slavePath(), 115200);
    // On Linux the master reports the slave's settings.
    termios settings{};
    ASSERT_EQ(::tcgetattr(pty.masterFd(), &settings), 0);
    EXPECT_EQ(::cfgetospeed(&settings), B115200);
    EXPECT_EQ(settings.c_cflag & (CSIZE | CREAD | CLOCAL), CS8 | CREAD | CLOCAL);
    // No hardware flow control, which a cable without those lines would stall on, and no hang-up
    // on close. (Raw input and output show in the reads and writes below.)
    EXPECT_EQ(settings.c_cflag & (CSTOPB | PARENB | HUPCL | CRTSCTS), 0u);
}

TEST(POSIXSerialLink, ReadsExactlyWhatWasAskedOrTimesOutWhenDue) {
    PseudoTerminal pty;
    POSIXSerialLink link(pty.slavePath(), 115200);
    EXPECT_TRUE(link.read(64, 0).empty());

    // Six bytes for an exact read of four: two stay for the next reader.
    pty.write(bytes("123456"));
    EXPECT_EQ(link.readExactly(4, 1.0), bytes("1234"));
    EXPECT_EQ(link.read(64, 1.0), bytes("56"));

    // Bytes the link writes arrive unchanged (no newline translation on a raw line).
    const Bytes raw{'N', '#', '\r', '\n', 0x00, 0xFF, 0x11, 0x13};
    link.write(raw);
    EXPECT_EQ(pty.read(raw.size(), 1.0), raw);

    // A silent peer: the exact read times out when due, and keeps nothing back.
    pty.write(bytes("ab"));
    const auto start = MonotonicClock::now();
    EXPECT_EQ(flasherErrorOf([&] { link.readExactly(4, 1.0); }), FlasherError::sambaTimeout());
    EXPECT_GT(secondsSince(start), 0.95);
    // The two bytes were consumed by the failed read.
    pty.write(bytes("cd"));
    EXPECT_EQ(link.read(64, 1.0), bytes("cd"));

    // A quiet line: discarding waits out its time-out and does not fail.
    const auto quiet = MonotonicClock::now();
    link.discardAvailable(0.2);
    EXPECT_GT(secondsSince(quiet), 0.19);
}

TEST(POSIXSerialLink, PeerHangingUpIsACableGoneNeverATimeout) {
    // The peer vanishes while the link waits on an idle line, and in the middle of a reply.
    for (const int pieces : {0, 10}) {
        PseudoTerminal pty;
        POSIXSerialLink link(pty.slavePath(), 115200);
        std::thread peer([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            for (int i = 0; i < pieces; ++i) {
                pty.write(bytes("0123456789"));
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            pty.closeMaster();
        });
        EXPECT_EQ(flasherErrorOf([&] { link.readExactly(4096, 30.0); }),
                  FlasherError::serialPortClosed());
        peer.join();
        EXPECT_EQ(flasherErrorOf([&] { link.write(bytes("V#")); }),
                  FlasherError::serialPortClosed());
    }
}

TEST(POSIXSerialLink, AMissingPortOrOneThatIsNoTerminalFailsToOpen) {
    const std::string missing = "/dev/pelwick-no-such-port";
    EXPECT_EQ(flasherErrorOf([&] { POSIXSerialLink absent(missing, 115200); }),
              FlasherError::serialOpenFailed(missing));
    // A file that is not a terminal opens but cannot take line settings.
    EXPECT_EQ(flasherErrorOf([] { POSIXSerialLink file("/dev/null", 115200); }),
              FlasherError::serialOpenFailed("/dev/null"));
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

TEST(POSIXSerialLink, WritesArriveWholeAndWaitForTheLineButNotForEver) {
    {
        // More than the terminal holds: the write waits for the reader to make room.
        const Bytes block = testing::patternBytes(1 << 20, 3);
        PseudoTerminal pty;
        POSIXSerialLink link(pty.slavePath(), 115200);
        Bytes received;
        std::thread peer([&] { received = pty.read(block.size(), 30.0); });
        link.write(block);
        peer.join();
        EXPECT_TRUE(received == block);
    }
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

    // Nobody reads: once the terminal is full the write stops moving and ends in the time-out.
    // Should it wait on regardless, unplugging after a minute ends it with another error.
    queued = 0;
    std::promise<void> ended;
    std::jthread unplug([&, ended = ended.get_future()] {
        if (ended.wait_for(std::chrono::minutes(1)) == std::future_status::timeout) {
            pty.closeMaster();
        }
    });
    start = MonotonicClock::now();
    EXPECT_EQ(flasherErrorOf([&] { link.write(Bytes(8 << 20)); }), FlasherError::sambaTimeout());
    EXPECT_GT(secondsSince(start), 0.3);
    ended.set_value();
}

} // namespace
} // namespace pelwick
