// The sentences pelwick-cli prints for what goes wrong, each with its exit status and the error
// kind of its JSON document: the one table of the command line's texts.

#include "CliProcess.h"

#include "device/POSIXSerialLink.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>
#include <tuple>

namespace pelwick::testing {
namespace {

TEST(CliTexts, EachFailureSaysWhyOnStandardErrorWithItsStatusAndKind) {
    TempDir folder;
    const std::string dir = folder.path().string() + "/";
    const auto image = folder.write("image.bin", patternImage(1));
    folder.write("small.bin", Bytes(100, 0x55));
    folder.write("empty.bin", {});
    const Bytes earlier(100, 0x5A);
    folder.write("existing.bin", earlier);
    std::filesystem::create_directory(folder / "dev");
    folder.write("dev/ttyUSB0", {});
    ASSERT_EQ(::mkfifo((dir + "pipe").c_str(), 0600), 0);
    // A port another program holds, reached through a link.
    PseudoTerminal pty;
    const POSIXSerialLink holder(pty.slavePath(), 115200);
    std::filesystem::create_symlink(pty.slavePath(), dir + "ttyACM1");
    // A port, or a folder of ports, that does not exist: a refusal that came after the port was
    // opened or listed would fail with a text of its own.
    const std::string absent = dir + "absent";

    // The arguments, the exit status, the error kind in JSON (empty: the command writes no JSON)
    // and standard error (empty: the message of the JSON document, a text of the core's).
    const std::tuple<std::vector<std::string>, int, std::string, std::string> cases[] = {
        {{"frobnicate"},
         2,
         "usage",
         "There is no command \"frobnicate\".\nRun \"pelwick-cli help\" for the list of "
         "commands.\n"},
        {{"--settle", "1e300", "--demo", "info"},
         2,
         "usage",
         "--settle: Give the pause in seconds as a number from 0 to 10 (not \"1e300\").\nRun with "
         "--help for more information.\n"},
        {{"--port", absent, "flash", dir + "small.bin", "--yes"}, 1, "firmwareWrongSize", ""},
        {{"--port", absent, "batch", dir + "empty.bin", "--count", "1"}, 1, "firmwareEmpty", ""},
        {{"--port", absent, "flash", image.string()},
         1,
         "notConfirmed",
         "Refusing to flash without confirmation: standard input is not a terminal. Pass --yes "
         "to confirm.\n"},
        {{"--device-dir", absent, "info"}, 1, "file", ""},
        // A serial adapter is listed but never tried.
        {{"--device-dir", dir + "dev", "info"}, 1, "noProgrammingCable", ""},
        {{"--port", dir + "dev/ttyUSB0", "info"},
         1,
         "notASerialPort",
         dir + "dev/ttyUSB0 is not a serial port. The calculator's monitor appears as a ttyACM… "
               "(or cu.usbmodem…) device; pass that device with --port.\n"},
        // The help for a port that cannot be opened comes once, under the error.
        {{"--port", dir + "ttyACM1", "--timeout", "0.5", "info"},
         1,
         "serialOpenFailed",
         "Could not open serial port " + pty.slavePath() + ".\nThe port " + pty.slavePath() +
             " is in use by another program (perhaps another Pelwick); close it and try again.\n"},
        // Every file's failure.
        {{"checksum", dir + "none.bin", dir + "pipe"},
         1,
         "firmwareNotFound",
         "Firmware file not found: " + dir + "none.bin\nCould not read " + dir +
             "pipe: it is a named pipe, not a regular file.\n"},
        {{"--demo", "backup", "-o", dir + "existing.bin"},
         1,
         "fileExists",
         "Could not write " + dir + "existing.bin: File exists. Pass --force to replace it.\n"},
        {{"--demo", "backup", "-o", dir + "pipe", "--force"}, 1, "file", ""},
        {{"--demo", "verify", image.string()}, 1, "verifyMismatch", ""},
        {{"simulate", "--link", dir + "existing.bin"},
         1,
         "",
         "Refusing to replace " + dir + "existing.bin: it exists and is not a symbolic link.\n"},
    };
    for (const auto& [arguments, status, kind, text] : cases) {
        SCOPED_TRACE(::testing::PrintToString(arguments));
        // Quiet leaves out the progress, never the failure.
        std::vector<std::string> args = arguments;
        args.insert(args.begin(), "-q");
        const CliRun run = runCli(args);
        EXPECT_EQ(run.status, status);
        EXPECT_EQ(run.out, "");
        std::string err = text;
        if (!kind.empty()) {
            std::vector<std::string> json = args;
            json.insert(json.begin(), "--json");
            const CliRun scripted = runCli(json);
            EXPECT_EQ(scripted.status, status);
            const auto doc = nlohmann::json::parse(scripted.out);
            EXPECT_EQ(doc["ok"], false);
            EXPECT_EQ(doc["error"]["kind"], kind);
            const std::string message = doc["error"]["message"];
            ASSERT_FALSE(message.empty());
            err = err.empty() ? message + '\n' : err;
            EXPECT_TRUE(err.starts_with(message)) << doc;
        }
        EXPECT_EQ(run.err, err);
    }
    // Refused files stay as they were.
    EXPECT_EQ(readWholeFile(folder / "existing.bin"), earlier);
    EXPECT_TRUE(std::filesystem::is_fifo(folder / "pipe"));
    // Numbers that no wait can use are usage errors too.
    for (const char* timeout : {"nan", "inf", "1e300", "601", "0"}) {
        EXPECT_EQ(runCli({"--timeout", timeout, "--demo", "info"}).status, 2) << timeout;
    }
}

} // namespace
} // namespace pelwick::testing
