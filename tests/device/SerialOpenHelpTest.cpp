#include "device/SerialOpenHelp.h"
#include "device/FlasherError.h"
#include "device/POSIXSerialLink.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pelwick {
namespace {

using testing::asNobody;
using testing::TempDir;

const std::string rule = "install Pelwick’s udev rule (/usr/lib/udev/rules.d/60-pelwick.rules) "
                         "and plug the cable in again.";

/// What opening `path` gave: "opened", or the open's errno and the help for it.
std::string openOutcome(const std::string& path) {
    try {
        POSIXSerialLink link(path, 115200);
        return "opened";
    } catch (const FlasherError& error) {
        return std::to_string(error.openErrno()) + " " +
               serialOpenHelp(path, error.openErrno()).value_or("");
    }
}

std::string outcome(int error, const std::string& help) {
    return std::to_string(error) + " " + help;
}

TEST(SerialOpenHelp, APortTheUserMayNotOpenNamesItsGroupAndTheRemediesThatCanWork) {
    TempDir folder;
    ::chmod(folder.path().c_str(), 0755);
    // A FIFO stands in for the device: the open is refused before anything device-specific.
    const std::string path = (folder / "ttyACM0").string();
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // Root hands the node to a group and tries it as nobody, with and without that group.
    const group* dialout = ::getgrnam("dialout");
    if (::geteuid() != 0 || dialout == nullptr) {
        GTEST_SKIP() << "needs root and a dialout group";
    }
    const gid_t gid = dialout->gr_gid;
    const std::string belongs = path + " belongs to the group “" + dialout->gr_name + "”";
    ASSERT_EQ(::chown(path.c_str(), 0, gid), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0660), 0);

    // Not in the group: join it or install the rule.
    const auto outsider = asNobody([&] { return openOutcome(path); });
    if (!outsider) {
        GTEST_SKIP() << "cannot drop root privileges here";
    }
    EXPECT_EQ(*outsider,
              outcome(EACCES, belongs + ", and you are not in it: join it (sudo usermod -aG " +
                                  dialout->gr_name + " $USER) and log in again, or " + rule));
    // A member opens it (a FIFO is no terminal, about which the help has nothing to say).
    EXPECT_EQ(asNobody([&] { return openOutcome(path); }, {gid}), outcome(ENOTTY, ""));
    // A member the node still refuses (an access list, say): joining is no remedy.
    EXPECT_EQ(asNobody([&] { return serialOpenHelp(path, EACCES).value_or(""); }, {gid}),
              belongs + ", which you are in, yet the port does not open; " + rule);
    // A group that may not open the node either: only the rule helps.
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    EXPECT_EQ(asNobody([&] { return openOutcome(path); }),
              outcome(EACCES, belongs +
                                  ", but the port’s permissions do not let that group open "
                                  "it; " +
                                  rule));
}

TEST(SerialOpenHelp, APortHeldByAnotherProgramIsBusyAndOtherFailuresGetNoHelp) {
    // (That a held port is refused with EBUSY, root included, is the serial link's test.)
    EXPECT_EQ(serialOpenHelp("/dev/ttyACM0", EBUSY),
              "The port /dev/ttyACM0 is in use by another program (perhaps another Pelwick); "
              "close it and try again.");
    TempDir folder;
    const std::string missing = (folder / "ttyACM9").string();
    EXPECT_EQ(openOutcome(missing), outcome(ENOENT, ""));
    // The node went away between the failed open and the help.
    EXPECT_FALSE(serialOpenHelp(missing, EACCES));
    EXPECT_FALSE(serialOpenHelp("/dev/null", EIO));
}

} // namespace
} // namespace pelwick
