#include "CliProcess.h"

#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace pelwick::testing {
namespace {

const std::string noCableText =
    "No HP programming cable detected. Put the calculator in programming mode and reconnect.";

TEST(CliUsage, ExitStatusSeparatesWrongUsageFromFailure) {
    EXPECT_EQ(runCli({}).status, 2);
    EXPECT_EQ(runCli({"frobnicate"}).status, 2);
    EXPECT_EQ(runCli({"--timeout", "0", "--demo", "info"}).status, 2);
    // Numbers that no wait can use are refused with a plain sentence.
    for (const char* timeout : {"nan", "inf", "1e300", "601"}) {
        EXPECT_EQ(runCli({"--timeout", timeout, "--demo", "info"}).status, 2) << timeout;
    }
    for (const char* settle : {"nan", "-1", "1e300"}) {
        EXPECT_EQ(runCli({"--settle", settle, "--demo", "info"}).status, 2) << settle;
    }
    EXPECT_EQ(runCli({"--settle", "1e300", "--demo", "info"}).err,
              "--settle: Give the pause in seconds as a number from 0 to 10 (not \"1e300\").\n"
              "Run with --help for more information.\n");
    EXPECT_EQ(runCli({"--demo", "--port", "/dev/ttyACM0", "info"}).status, 2);
    EXPECT_EQ(runCli({"flash"}).status, 2);
    EXPECT_EQ(runCli({"--help"}).status, 0);
    EXPECT_EQ(runCli({"checksum", "/nonexistent/firmware.bin"}).status, 1);
}

TEST(CliInfo, IdentifiesTheSimulatedCalculator) {
    const CliRun run = runCli({"--demo", "info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Chip:      ATSAM4LC2C\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Monitor:   v1.1 Dec 15 2013 19:03:14\n"), std::string::npos);
    EXPECT_NE(run.out.find("CIDR:      0xAB0A07E0\n"), std::string::npos);
    EXPECT_NE(run.out.find("Supported: yes\n"), std::string::npos);
    EXPECT_NE(run.out.find("Port:      /dev/cu.usbmodemDEMO\n"), std::string::npos);
    // Global options may follow the command.
    EXPECT_EQ(runCli({"info", "--demo"}).out, run.out);
}

TEST(CliInfo, TellsAMissingDeviceFolderFromAMissingCable) {
    TempDir empty;
    const CliRun noCable = runCli({"--device-dir", empty.path().string(), "info"});
    EXPECT_EQ(noCable.status, 1);
    EXPECT_EQ(noCable.err, noCableText + "\n");

    const std::string missing = (empty / "absent").string();
    for (const char* command : {"info", "ports"}) {
        const CliRun run = runCli({"--device-dir", missing, command});
        EXPECT_EQ(run.status, 1) << command;
        EXPECT_EQ(run.err, "Could not list " + missing + ": No such file or directory.\n");
    }

    // Only serial adapters: listed as cables, but never tried.
    std::ofstream(empty / "ttyUSB0").put('x');
    EXPECT_EQ(runCli({"--device-dir", empty.path().string(), "info"}).err, noCableText + "\n");
    // A named port that is not a terminal says so instead of "no cable".
    const CliRun named = runCli({"--port", (empty / "ttyUSB0").string(), "info"});
    EXPECT_EQ(named.status, 1);
    EXPECT_NE(named.err.find("ttyUSB0 is not a serial port."), std::string::npos) << named.err;
    // Nor are the terminal the program runs in and /dev/tty: their modes are not ours to change.
    CliRunOptions onATerminal;
    onATerminal.terminal = true;
    for (const std::string own : {"/dev/stdin", "/dev/tty"}) {
        const CliRun run = runCli({"--port", own, "info"}, onATerminal);
        EXPECT_EQ(run.status, 1) << own;
        EXPECT_NE(run.err.find(own + " is not a serial port."), std::string::npos) << run.err;
    }
}

TEST(CliPorts, ListsCablesInConnectionOrderThenTheRest) {
    TempDir folder;
    const CliRun none = runCli({"--device-dir", folder.path().string(), "ports"});
    EXPECT_EQ(none.status, 0);
    EXPECT_EQ(none.out, "No serial ports found in " + folder.path().string() + ".\n");

    for (const char* name : {"ttyUSB0", "ttyACM1", "cu.Bluetooth-Incoming-Port", "ttyACM0", "ttyS0",
                             "cu.usbserial-A1"}) {
        std::ofstream(folder / name).put('x');
    }
    const CliRun run = runCli({"--device-dir", folder.path().string(), "ports"});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string dir = folder.path().string() + "/";
    const std::vector<std::string> expected{
        "PORT CABLE RANK TRIED",   dir + "ttyACM0 yes 0 yes",
        dir + "ttyACM1 yes 0 yes", dir + "cu.usbserial-A1 yes 1 no",
        dir + "ttyUSB0 yes 1 no",  dir + "cu.Bluetooth-Incoming-Port no 2 no",
    };
    EXPECT_EQ(squeezedLines(run.out), expected);
}

TEST(CliChecksum, ShowsTheTestMenuValueAndTheVerdictForEachFile) {
    TempDir folder;
    Bytes simulated(0x1C000, 0);
    simulated[0] = simulated[1] = 0x90;
    const auto image = folder.write("sim.bin", simulated);
    const auto other = folder.write("other.bin", patternImage(3));
    const std::string missing = (folder / "missing.bin").string();

    const auto pipe = folder / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const CliRun run = runCli({"checksum", missing, pipe.string(), image.string()});
    EXPECT_EQ(run.status, 1);
    // Files are read as for a flash: a pipe is refused at once instead of waited on.
    EXPECT_EQ(run.err, "Firmware file not found: " + missing + "\nCould not read " + pipe.string() +
                           ": it is a named pipe, not a regular file.\n");
    EXPECT_NE(run.out.find("Checksum:  9090h\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Test menu: ChE - - 9090h\n"), std::string::npos);
    EXPECT_NE(run.out.find("Checksum 9090h: HP 15c Collector’s Edition original firmware of "
                           "2023-01-05. Make sure your calculator is an HP 15c Collector’s "
                           "Edition."),
              std::string::npos);

    // Against a backup of the same image the file is already on the calculator; another image is
    // still unknown.
    const CliRun against =
        runCli({"checksum", image.string(), other.string(), "--against", image.string()});
    EXPECT_EQ(against.status, 0) << against.err;
    EXPECT_NE(against.out.find("Checksum 9090h. This firmware is already on the calculator."),
              std::string::npos)
        << against.out;
    EXPECT_NE(against.out.find("This firmware is not in the list of known versions. Make sure"),
              std::string::npos);
    EXPECT_EQ(runCli({"checksum", image.string(), "--against", missing}).status, 1);

    // A file that cannot be flashed gets its checksum and a warning about its size.
    const auto small = folder.write("small.bin", {1, 2, 3, 0, 0});
    const CliRun smallRun = runCli({"checksum", small.string()});
    EXPECT_NE(smallRun.out.find("Test menu: ChE - - 0303h\n"), std::string::npos);
    EXPECT_NE(smallRun.out.find("5 bytes; a firmware image has 114688 bytes."), std::string::npos);
}

TEST(CliOutput, AResultThatCannotBeWrittenIsAFailure) {
    TempDir folder;
    const auto image = folder.write("image.bin", patternImage(6));
    using Output = CliRunOptions::Output;
    struct Case {
        std::vector<std::string> args;
        Output output;
        std::string reason;
    };
    const Case cases[] = {
        {{"checksum", image.string()}, Output::full, "No space left on device."},
        {{"--demo", "info"}, Output::closed, "Bad file descriptor."},
        {{"--demo", "backup", "-o", (folder / "backup.bin").string()},
         Output::readerGone,
         "Broken pipe."},
        // A verdict that could not be shown is no verdict: the flash does not start.
        {{"--demo", "flash", image.string(), "--yes", "--no-backup"},
         Output::readerGone,
         "Broken pipe. Nothing was written to the calculator."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        const CliRun run = runCli(c.args, CliRunOptions::writingTo(c.output));
        EXPECT_EQ(run.status, 1);
        EXPECT_TRUE(run.err.ends_with("Could not write to standard output: " + c.reason + "\n"))
            << run.err;
    }
    // The backup itself was saved: only its report could not be shown.
    EXPECT_EQ(std::filesystem::file_size(folder / "backup.bin"), 0x1C000u);
}

} // namespace
} // namespace pelwick::testing
