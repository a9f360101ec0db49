// Saving files: numbered names that are claimed without ever replacing one, racing writers,
// permissions, and a folder that cannot be written.

#include "util/FileIO.h"
#include "support/ChildProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <set>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>

namespace pelwick {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

std::vector<std::string> namesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

template <typename Call> std::string messageOf(Call&& call) {
    try {
        call();
    } catch (const std::exception& error) {
        return userMessage(error);
    }
    return "no error";
}

// Makes the listed system calls fail with their errno in this process from now on, as a folder on
// a file system without hard links (FAT) refuses link().
bool refuseSystemCalls(const std::vector<std::pair<long, int>>& refusals) {
    std::vector<sock_filter> program{
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr))};
    for (const auto& [call, error] : refusals) {
        program.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(call), 0, 1));
        program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | static_cast<__u32>(error)));
    }
    program.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    const sock_fprog filter{static_cast<unsigned short>(program.size()), program.data()};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) == 0;
}

TEST(FileIO, ATakenNameGetsTheNextNumberAndNothingIsReplacedEvenWithoutHardLinks) {
    const std::vector<std::pair<long, int>> noLinks{{SYS_link, EPERM}, {SYS_linkat, EPERM}};
    auto noRenameFlags = noLinks;
    noRenameFlags.push_back({SYS_renameat2, EINVAL});
    for (const auto& refusals : {std::vector<std::pair<long, int>>{}, noLinks, noRenameFlags}) {
        TempDir dir;
        const fs::path name = dir / "firmware-9090h-20260105.bin";
        const auto names = testing::inChildProcess(
            [&] { return refusals.empty() || refuseSystemCalls(refusals); },
            [&] {
                std::string written;
                for (std::uint8_t i = 1; i <= 3; ++i) {
                    written += writeNewFileAtomically(name, Bytes{i}).filename().string() + " ";
                }
                return written + messageOf([&] { createFileAtomically(name, Bytes{4}); });
            });
        ASSERT_TRUE(names.has_value());
        EXPECT_EQ(*names, "firmware-9090h-20260105.bin firmware-9090h-20260105-2.bin "
                          "firmware-9090h-20260105-3.bin Could not write " +
                              name.string() + ": File exists.");
        EXPECT_EQ(readWholeFile(name), Bytes{1});
        EXPECT_EQ(readWholeFile(dir / "firmware-9090h-20260105-3.bin"), Bytes{3});
        EXPECT_EQ(namesIn(dir.path()).size(), 3u); // no temporary file is left
    }
}

TEST(FileIO, WritersRacingForOneNameNeverLoseAFile) {
    TempDir dir;
    {
        std::vector<std::jthread> writers;
        for (std::uint8_t w = 0; w < 8; ++w) {
            writers.emplace_back([&dir, w] {
                for (std::uint8_t i = 0; i < 5; ++i) {
                    writeNewFileAtomically(dir / "hp15c.bin", Bytes{w, i});
                }
            });
        }
    }
    std::set<Bytes> contents;
    for (const std::string& name : namesIn(dir.path())) {
        contents.insert(readWholeFile(dir / name));
    }
    EXPECT_EQ(contents.size(), 40u);
}

TEST(FileIO, NewFilesFollowTheUmaskAndAReplacedFileKeepsItsModeAndOwner) {
    TempDir dir;
    const mode_t previous = ::umask(027);
    const fs::path numbered = writeNewFileAtomically(dir / "new.bin", Bytes{2});
    const fs::path kept = dir.write("kept.bin", Bytes{4});
    ::chmod(kept.c_str(), 0604);
    ASSERT_EQ(::chown(kept.c_str(), 65534, 65534), 0); // nobody
    writeFileAtomically(kept, Bytes{5});
    ::umask(previous);
    struct stat info {};
    ::stat(numbered.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    ::stat(kept.c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0604u);
    EXPECT_EQ(info.st_uid, 65534u);
}

TEST(FileIO, AFailedWriteInAReadOnlyFolderKeepsTheEarlierFile) {
    TempDir dir;
    // A folder only root may write: the file itself may be written by anyone, so only a write in
    // place could change it.
    ::chmod(dir.path().c_str(), 0755);
    const fs::path earlier = dir.write("backup.bin", Bytes(100, 0x5A));
    ::chmod(earlier.c_str(), 0666);
    const auto report = testing::asNobody([&] {
        return messageOf([&] { writeFileAtomically(earlier, Bytes{1}); }) + "|" +
               messageOf([&] { writeNewFileAtomically(earlier, Bytes{1}); }) + "|" +
               messageOf([&] { requireWritableFolder(dir.path()); });
    });
    ASSERT_TRUE(report.has_value());
    const std::string refused = "Could not write " + earlier.string() + ": Permission denied.";
    EXPECT_EQ(*report, refused + "|" + refused + "|Could not write to " + dir.path().string() +
                           ": Permission denied.");
    EXPECT_EQ(readWholeFile(earlier), Bytes(100, 0x5A));
    EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"backup.bin"});
}

} // namespace
} // namespace pelwick
