#include "CliProcess.h"

#include "support/TempDir.h"
#include "util/FileIO.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <thread>
#include <unistd.h>

namespace pelwick::testing {
namespace {

const std::string disconnectedText = "The programming cable disconnected. Hold ERASE, press RESET, "
                                     "then release ERASE and wait for the port to reappear.";

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// `pelwick-cli simulate --link <folder>/ttyACM0`, started and waited for.
class ServedCalculator {
public:
    ServedCalculator(const TempDir& folder, const std::string& delay)
        : link_(folder / "ttyACM0"),
          server_({"simulate", "--link", link_.string(), "--delay", delay}) {
        terminal_ = server_.readOutputLine(10);
    }

    BackgroundCli& process() { return server_; }
    const std::string& terminal() const { return terminal_; }
    const std::filesystem::path& link() const { return link_; }

private:
    std::filesystem::path link_;
    BackgroundCli server_;
    std::string terminal_;
};

TEST(CliSimulate, ServesTheRealSerialCodeAndRoundTripsAFlash) {
    TempDir folder;
    ServedCalculator served(folder, "0");
    ASSERT_TRUE(served.terminal().starts_with("/dev/pts/")) << served.terminal();
    EXPECT_EQ(std::filesystem::read_symlink(served.link()), served.terminal());
    const std::string devices = folder.path().string();

    const CliRun info = runCli({"--device-dir", devices, "info"});
    ASSERT_EQ(info.status, 0) << info.err;
    EXPECT_TRUE(contains(info.out, "Port:      " + served.link().string() + "\n"));
    EXPECT_TRUE(contains(info.out, "Chip:      ATSAM4LC2C\n"));
    EXPECT_TRUE(contains(info.out, "Monitor:   v1.1 Dec 15 2013 19:03:14\n"));
    EXPECT_TRUE(contains(info.out, "Supported: yes\n"));

    // A command the simulator rejects is reported, and the service goes on.
    {
        const int fd = ::open(served.link().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "X#", 2), 2);
        EXPECT_TRUE(served.process().readErrorLine(10).starts_with("Linked "));
        EXPECT_EQ(served.process().readErrorLine(10),
                  "Simulator rejected a command: SAM-BA protocol error: unknown command X");
        ::close(fd);
    }

    const Bytes imageBytes = patternImage(7);
    const auto image = folder.write("image.bin", imageBytes);
    const CliRun flash =
        runCli({"--device-dir", devices, "--settle", "0", "flash", image.string(), "--yes"});
    ASSERT_EQ(flash.status, 0) << flash.err;
    EXPECT_TRUE(contains(flash.out, "\nFlashed and verified. ("));

    const auto out = folder / "out.bin";
    const CliRun backup = runCli({"--port", served.link().string(), "backup", "-o", out.string()});
    ASSERT_EQ(backup.status, 0) << backup.err;
    EXPECT_EQ(readWholeFile(out), imageBytes);

    // A link such as /dev/serial/by-id/… is followed, and the port behind it is named.
    std::filesystem::create_directory(folder / "by-id");
    const auto byId = folder / "by-id" / "usb-ATMEL_SAM-BA-if00";
    std::filesystem::create_symlink(served.link(), byId);
    const CliRun named = runCli({"--port", byId.string(), "info"});
    ASSERT_EQ(named.status, 0) << named.err;
    EXPECT_TRUE(contains(named.out, "Port:      " + served.terminal() + "\n")) << named.out;

    // Interrupted, the service ends cleanly and takes its link away.
    served.process().signal(SIGTERM);
    EXPECT_EQ(served.process().wait().status, 0);
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(served.link())));
}

TEST(CliSimulate, AServerThatDiesInTheMiddleOfABackupIsACableDisconnect) {
    TempDir folder;
    // 0.05 s per 512 bytes: each 4096-byte block takes 0.4 s, the whole backup over 10 s.
    ServedCalculator served(folder, "0.05");
    ASSERT_FALSE(served.terminal().empty());
    const auto out = folder / "out.bin";
    BackgroundCli backup({"--device-dir", folder.path().string(), "backup", "-o", out.string()});
    EXPECT_EQ(backup.readErrorLine(10), "Reading firmware… 0%");
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    served.process().signal(SIGKILL);

    const auto started = std::chrono::steady_clock::now();
    const CliRun result = backup.wait();
    EXPECT_EQ(result.status, 1);
    EXPECT_TRUE(contains(result.err, disconnectedText + "\n")) << result.err;
    // Seen at once, not after a time-out; and no file is left behind.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
    EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(CliSimulate, RefusesToReplaceAFileWithItsLink) {
    TempDir folder;
    const auto existing = folder.write("ttyACM0", {'k', 'e', 'e', 'p'});
    const CliRun run = runCli({"simulate", "--link", existing.string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "Refusing to replace " + existing.string() +
                           ": it exists and is not a symbolic link.\n");
    EXPECT_EQ(readWholeFile(existing), (Bytes{'k', 'e', 'e', 'p'}));
}

} // namespace
} // namespace pelwick::testing
