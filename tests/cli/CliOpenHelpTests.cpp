#include "CliProcess.h"

#include "device/POSIXSerialLink.h"
#include "support/ChildProcess.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelwick::testing {
namespace {

/// Runs pelwick-cli with `args` as the user nobody when the test runs as root (root opens what
/// it likes), as the test's own user otherwise. Returns the exit status and standard error, or
/// none when privileges cannot be dropped.
std::optional<std::pair<int, std::string>> runAsOrdinaryUser(const std::vector<std::string>& args) {
    if (::geteuid() != 0) {
        const CliRun run = runCli(args);
        return std::pair(run.status, run.err);
    }
    const auto report = asNobody([&] {
        const CliRun run = runCli(args);
        return std::to_string(run.status) + "\n" + run.err;
    });
    if (!report) {
        return std::nullopt;
    }
    const auto line = report->find('\n');
    return std::pair(std::stoi(report->substr(0, line)), report->substr(line + 1));
}

TEST(CliOpenHelp, APortThatCannotBeOpenedGetsOneLineOfHelpUnderTheError) {
    TempDir folder;
    ::chmod(folder.path().c_str(), 0755);

    // Not permitted: a port of a group the user is not in (or, for an ordinary user, one
    // without any permissions).
    PseudoTerminal locked;
    const std::string refused = locked.slavePath();
    if (::geteuid() == 0) {
        const group* dialout = ::getgrnam("dialout");
        ASSERT_EQ(::chown(refused.c_str(), 0, dialout ? dialout->gr_gid : 20), 0);
        ASSERT_EQ(::chmod(refused.c_str(), 0660), 0);
    } else {
        ASSERT_EQ(::chmod(refused.c_str(), 0), 0);
    }
    const auto notPermitted = runAsOrdinaryUser({"--port", refused, "--timeout", "0.5", "info"});
    if (!notPermitted) {
        GTEST_SKIP() << "cannot drop root privileges here";
    }
    EXPECT_EQ(notPermitted->first, 1);
    // The error's own text, then one line naming the group and the udev rule (its exact wording
    // depends on the user's groups, which the child process does not share with this one).
    const std::string& err = notPermitted->second;
    const std::string first = "Could not open serial port " + refused + ".\n";
    EXPECT_TRUE(err.starts_with(first + refused + " belongs to the group “")) << err;
    EXPECT_NE(err.find("/usr/lib/udev/rules.d/60-pelwick.rules"), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;

    // Busy: another program holds the port (reached through a link), for an ordinary user and
    // for this one (root too: a second Pelwick run with sudo must not read a torn image).
    PseudoTerminal pty;
    POSIXSerialLink holder(pty.slavePath(), 115200);
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);
    const std::string held = (folder / "ttyACM1").string();
    std::filesystem::create_symlink(pty.slavePath(), held);
    const std::string inUse = "Could not open serial port " + pty.slavePath() + ".\nThe port " +
                              pty.slavePath() +
                              " is in use by another program (perhaps another Pelwick); close "
                              "it and try again.\n";
    const auto busy = runAsOrdinaryUser({"--port", held, "--timeout", "0.5", "info"});
    ASSERT_TRUE(busy);
    EXPECT_EQ(busy->first, 1);
    EXPECT_EQ(busy->second, inUse);
    const CliRun second = runCli({"--port", held, "--timeout", "0.5", "info"});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.err, inUse);

    // A port that is simply missing gets no help line.
    const CliRun missing = runCli({"--port", (folder / "ttyACM9").string(), "info"});
    EXPECT_EQ(missing.err, "Could not open serial port " + (folder / "ttyACM9").string() + ".\n");
}

} // namespace
} // namespace pelwick::testing
