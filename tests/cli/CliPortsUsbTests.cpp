#include "CliProcess.h"

#include "support/FakeSysfs.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

namespace pelwick::testing {
namespace {

/// Points pelwick-cli children at a fake sysfs tree for as long as it lives.
struct SysfsRootOverride {
    explicit SysfsRootOverride(const std::filesystem::path& root) {
        ::setenv("PELWICK_SYSFS_ROOT", root.c_str(), 1);
    }
    ~SysfsRootOverride() { ::unsetenv("PELWICK_SYSFS_ROOT"); }
};

TEST(CliPorts, ShowsUsbIdentitiesAndPutsTheSambaMonitorFirst) {
    TempDir folder;
    std::filesystem::create_directories(folder / "dev");
    for (const char* name : {"ttyACM0", "ttyACM1", "ttyACM2", "ttyUSB0"}) {
        folder.write(std::string("dev/") + name, {});
    }
    FakeSysfs sysfs(folder / "sys");
    sysfs.addUsbPort("ttyACM0", "1-1",
                     {"2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno", "8573632"},
                     FakeSysfs::Driver::cdcAcm);
    sysfs.addUsbPort("ttyACM1", "1-4", {"03eb", "6124", "ATMEL", "SAM-BA", std::nullopt},
                     FakeSysfs::Driver::cdcAcm);
    sysfs.addUsbPort("ttyUSB0", "1-2", {"0403", "6001", std::nullopt, "FT232R USB UART", "A10K"},
                     FakeSysfs::Driver::usbSerial);
    const SysfsRootOverride fake(sysfs.root());

    const std::string dev = (folder / "dev").string() + "/";
    const CliRun run = runCli({"--device-dir", (folder / "dev").string(), "ports"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> expected{
        "PORT CABLE RANK TRIED",
        dev + "ttyACM1 yes 0 yes",
        "USB 03eb:6124 ATMEL SAM-BA — SAM-BA monitor, tried first",
        dev + "ttyACM0 yes 0 no",
        "USB 2341:0043 Arduino (www.arduino.cc) Arduino Uno (serial 8573632)",
        dev + "ttyACM2 yes 0 no",
        dev + "ttyUSB0 yes 1 no",
        "USB 0403:6001 FT232R USB UART (serial A10K)",
    };
    EXPECT_EQ(squeezedLines(run.out), expected) << run.out;

    // A port named on the command line is looked up too; a file that is not a terminal is never
    // tried.
    const CliRun named = runCli({"--port", dev + "ttyACM1", "ports"});
    EXPECT_EQ(named.status, 0) << named.err;
    EXPECT_EQ(squeezedLines(named.out),
              (std::vector<std::string>{"PORT CABLE RANK TRIED", dev + "ttyACM1 yes 0 no",
                                        "USB 03eb:6124 ATMEL SAM-BA"}));
}

} // namespace
} // namespace pelwick::testing
