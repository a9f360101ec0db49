#include "device/SerialOpenHelp.h"
#include "device/FlasherError.h"
#include "device/POSIXSerialLink.h"
#include "support/ChildProcess.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelwick {
namespace {

using testing::PseudoTerminal;
using testing::TempDir;

const std::string udevRule = "/usr/lib/udev/rules.d/60-pelwick.rules";

/// What a process saw when it tried to open a port.
struct OpenAttempt {
    bool ran = false; ///< false: privileges could not be dropped
    int openErrno = 0;
    std::string description;
    std::string help;
};

OpenAttempt attemptOpen(const std::string& path) {
    OpenAttempt attempt{true, 0, "opened", ""};
    try {
        POSIXSerialLink link(path, 115200);
    } catch (const FlasherError& error) {
        attempt.openErrno = error.openErrno();
        attempt.description = error.errorDescription();
        // The error carries the reason; the thread's own record agrees.
        if (POSIXSerialLink::lastOpenErrno() != error.openErrno()) {
            attempt.description += " (lastOpenErrno differs)";
        }
        attempt.help = serialOpenHelp(path, error.openErrno()).value_or("");
    }
    return attempt;
}

/// `attempt` run as the user nobody with the given supplementary groups; `ran` is false when the
/// privileges could not be dropped.
OpenAttempt asNobody(const std::vector<gid_t>& groups,
                     const std::function<OpenAttempt()>& attempt) {
    const auto report = testing::asNobody(
        [&] {
            const OpenAttempt seen = attempt();
            return std::to_string(seen.openErrno) + "\n" + seen.description + "\n" + seen.help;
        },
        groups);
    if (!report) {
        return {};
    }
    OpenAttempt seen{true, 0, "", ""};
    const auto first = report->find('\n');
    const auto second = report->find('\n', first + 1);
    seen.openErrno = std::stoi(report->substr(0, first));
    seen.description = report->substr(first + 1, second - first - 1);
    seen.help = report->substr(second + 1);
    return seen;
}

/// A group the test process may hand a node to, that nobody is not in: "dialout" where it
/// exists (the usual owner of serial ports).
std::optional<std::pair<gid_t, std::string>> serialGroup() {
    if (const group* dialout = ::getgrnam("dialout")) {
        return std::pair(dialout->gr_gid, std::string(dialout->gr_name));
    }
    return std::nullopt;
}

/// A node in a folder that others may enter: a FIFO stands in for the device (the open is
/// refused before anything device-specific happens).
std::string makeNode(const TempDir& folder, gid_t group, mode_t mode) {
    ::chmod(folder.path().c_str(), 0755);
    const std::string path = (folder / "ttyACM0").string();
    if (::mkfifo(path.c_str(), 0600) != 0 || ::chown(path.c_str(), ::geteuid(), group) != 0 ||
        ::chmod(path.c_str(), mode) != 0) {
        ADD_FAILURE() << "could not prepare " << path;
    }
    return path;
}

TEST(SerialOpenHelp, APortTheUserMayNotOpenNamesItsGroupAndBothRemedies) {
    TempDir folder;
    if (::geteuid() != 0) {
        // An ordinary user is kept out of a node with no permissions, even their own.
        const std::string path = makeNode(folder, ::getegid(), 0);
        const OpenAttempt seen = attemptOpen(path);
        EXPECT_EQ(seen.openErrno, EACCES);
        EXPECT_EQ(seen.description, "Could not open serial port " + path + ".");
        EXPECT_NE(seen.help.find(path + " belongs to the group “"), std::string::npos) << seen.help;
        EXPECT_NE(seen.help.find(udevRule), std::string::npos) << seen.help;
        return;
    }
    const auto dialout = serialGroup();
    if (!dialout) {
        GTEST_SKIP() << "no dialout group here";
    }
    const auto& [gid, name] = *dialout;
    const std::string path = makeNode(folder, gid, 0660);

    // Not in the group: the specified error text, then who owns it and the two ways in.
    const OpenAttempt outsider = asNobody({}, [&] { return attemptOpen(path); });
    if (!outsider.ran) {
        GTEST_SKIP() << "cannot drop root privileges here";
    }
    EXPECT_EQ(outsider.openErrno, EACCES);
    EXPECT_EQ(outsider.description, "Could not open serial port " + path + ".");
    EXPECT_EQ(outsider.help, path + " belongs to the group “" + name +
                                 "”, and you are not in it: join it (sudo usermod -aG " + name +
                                 " $USER) and log in again, or install Pelwick’s udev rule (" +
                                 udevRule + ") and plug the cable in again.");

    // A member opens it; the help has nothing to say about a port that opened as far as
    // permissions go (a FIFO is no terminal).
    const OpenAttempt member = asNobody({gid}, [&] { return attemptOpen(path); });
    EXPECT_EQ(member.openErrno, ENOTTY);
    EXPECT_EQ(member.help, "");

    // A member the node still refuses (an access list, say): joining is no remedy.
    const OpenAttempt refusedMember = asNobody({gid}, [&] {
        return OpenAttempt{true, EACCES, "", serialOpenHelp(path, EACCES).value_or("")};
    });
    EXPECT_EQ(refusedMember.help, path + " belongs to the group “" + name +
                                      "”, which you are in, yet the port does not open; install "
                                      "Pelwick’s udev rule (" +
                                      udevRule + ") and plug the cable in again.");

    // A group that may not open the node either: only the rule helps.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const OpenAttempt closed = asNobody({}, [&] { return attemptOpen(path); });
    EXPECT_EQ(closed.openErrno, EACCES);
    EXPECT_EQ(closed.help, path + " belongs to the group “" + name +
                               "”, but the port’s permissions do not let that group open it; "
                               "install Pelwick’s udev rule (" +
                               udevRule + ") and plug the cable in again.");
    EXPECT_EQ(closed.help.find("usermod"), std::string::npos);
}

TEST(SerialOpenHelp, APortHeldByAnotherProgramIsBusy) {
    PseudoTerminal pty;
    POSIXSerialLink holder(pty.slavePath(), 115200);
    const std::string busy = "The port " + pty.slavePath() +
                             " is in use by another program (perhaps another Pelwick); close it "
                             "and try again.";
    OpenAttempt second;
    if (::geteuid() == 0) {
        // Root may open a port held exclusively, so the second program is nobody.
        ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
        second = asNobody({}, [&] { return attemptOpen(pty.slavePath()); });
        if (!second.ran) {
            GTEST_SKIP() << "cannot drop root privileges here";
        }
    } else {
        second = attemptOpen(pty.slavePath());
    }
    EXPECT_EQ(second.openErrno, EBUSY);
    EXPECT_EQ(second.description, "Could not open serial port " + pty.slavePath() + ".");
    EXPECT_EQ(second.help, busy);
}

TEST(SerialOpenHelp, OtherFailuresGetNoHelp) {
    TempDir folder;
    const std::string missing = (folder / "ttyACM9").string();
    const OpenAttempt absent = attemptOpen(missing);
    EXPECT_EQ(absent.openErrno, ENOENT);
    EXPECT_EQ(absent.help, "");
    // The node went away between the failed open and the help.
    EXPECT_FALSE(serialOpenHelp(missing, EACCES));
    EXPECT_FALSE(serialOpenHelp("/dev/null", EIO));
    // The reason travels with the error but is not part of its identity.
    EXPECT_EQ(FlasherError::serialOpenFailed("/dev/x", EACCES),
              FlasherError::serialOpenFailed("/dev/x"));
    EXPECT_EQ(FlasherError::serialOpenFailed("/dev/x", EACCES).openErrno(), EACCES);
}

} // namespace
} // namespace pelwick
