// Saving files: numbered names that are claimed without ever replacing one, permissions, long
// names, symbolic links, and what is not a regular file.

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

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    ::stat(path.c_str(), &info);
    return info.st_mode & 07777;
}

template <typename Call> std::string messageOf(Call&& call) {
    try {
        call();
    } catch (const std::exception& error) {
        return userMessage(error);
    }
    return "no error";
}

TEST(FileIO, ATakenNameGetsTheNextNumberAndNothingIsReplaced) {
    TempDir dir;
    const fs::path name = dir / "firmware-9090h-20260105.bin";
    EXPECT_EQ(writeNewFileAtomically(name, Bytes{1}), name);
    EXPECT_EQ(writeNewFileAtomically(name, Bytes{2}), dir / "firmware-9090h-20260105-2.bin");
    EXPECT_EQ(writeNewFileAtomically(name, Bytes{3}), dir / "firmware-9090h-20260105-3.bin");
    EXPECT_EQ(readWholeFile(name), Bytes{1});

    EXPECT_EQ(messageOf([&] { createFileAtomically(name, Bytes{4}); }),
              "Could not write " + name.string() + ": File exists.");
    EXPECT_EQ(readWholeFile(name), Bytes{1});
    EXPECT_EQ(namesIn(dir.path()).size(), 3u); // no temporary file is left
}

TEST(FileIO, WritersRacingForOneNameNeverLoseAFile) {
    TempDir dir;
    constexpr int writers = 8;
    constexpr int filesEach = 5;
    std::vector<std::vector<fs::path>> written(writers);
    {
        std::vector<std::jthread> threads;
        for (int w = 0; w < writers; ++w) {
            threads.emplace_back([&, w] {
                for (int i = 0; i < filesEach; ++i) {
                    written[w].push_back(
                        writeNewFileAtomically(dir / "hp15c-20260105-143209-001.bin",
                                               testing::patternBytes(4096, w * 100 + i)));
                }
            });
        }
    }
    std::set<fs::path> distinct;
    for (int w = 0; w < writers; ++w) {
        for (int i = 0; i < filesEach; ++i) {
            distinct.insert(written[w][i]);
            EXPECT_EQ(readWholeFile(written[w][i]), testing::patternBytes(4096, w * 100 + i));
        }
    }
    EXPECT_EQ(distinct.size(), static_cast<std::size_t>(writers * filesEach));
    EXPECT_EQ(namesIn(dir.path()).size(), distinct.size());
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

TEST(FileIO, FoldersWithoutHardLinksStillNeverLoseAFile) {
    const std::vector<std::pair<long, int>> noLinks{{SYS_link, EPERM}, {SYS_linkat, EPERM}};
    auto noRenameFlags = noLinks;
    noRenameFlags.push_back({SYS_renameat2, EINVAL});
    for (const auto& refusals : {noLinks, noRenameFlags}) {
        TempDir dir;
        const fs::path name = dir / "hp15c-20260105-143209-001.bin";
        const auto names = testing::inChildProcess(
            [&] { return refuseSystemCalls(refusals); },
            [&] {
                const fs::path first = writeNewFileAtomically(name, Bytes{1});
                const fs::path second = writeNewFileAtomically(name, Bytes{2});
                return first.filename().string() + " " + second.filename().string();
            });
        ASSERT_TRUE(names.has_value());
        EXPECT_EQ(*names, "hp15c-20260105-143209-001.bin hp15c-20260105-143209-001-2.bin");
        EXPECT_EQ(readWholeFile(name), Bytes{1});
        EXPECT_EQ(readWholeFile(dir / "hp15c-20260105-143209-001-2.bin"), Bytes{2});
        EXPECT_EQ(namesIn(dir.path()).size(), 2u);
    }
}

TEST(FileIO, NewFilesFollowTheUmaskAndAReplacedFileKeepsItsModeAndOwner) {
    TempDir dir;
    const mode_t previous = ::umask(027);
    writeFileAtomically(dir / "new.bin", Bytes{1});
    const fs::path numbered = writeNewFileAtomically(dir / "new.bin", Bytes{2});
    createFileAtomically(dir / "created.bin", Bytes{3});
    const fs::path kept = dir.write("kept.bin", Bytes{4});
    ::chmod(kept.c_str(), 0604);
    ASSERT_EQ(::chown(kept.c_str(), 65534, 65534), 0); // nobody
    writeFileAtomically(kept, Bytes{5});
    ::umask(previous);

    EXPECT_EQ(modeOf(dir / "new.bin"), 0640u);
    EXPECT_EQ(modeOf(numbered), 0640u);
    EXPECT_EQ(modeOf(dir / "created.bin"), 0640u);
    EXPECT_EQ(modeOf(kept), 0604u);
    struct stat owner {};
    ::stat(kept.c_str(), &owner);
    EXPECT_EQ(owner.st_uid, 65534u);
    EXPECT_EQ(readWholeFile(kept), Bytes{5});
}

TEST(FileIO, LongNamesAndSymbolicLinksAreWrittenAndOtherThingsAreNever) {
    TempDir dir;
    // The longest names a file system takes still work: the temporary name stays short.
    const fs::path longName = dir / (std::string(246, 'b') + ".bin");
    writeFileAtomically(longName, Bytes{1});
    writeFileAtomically(longName, Bytes{2});
    createFileAtomically(dir / (std::string(250, 'c') + ".bin"), Bytes{3});
    EXPECT_EQ(readWholeFile(longName), Bytes{2});

    // A link is written through to its target's folder; the link stays a link.
    fs::create_directory(dir / "elsewhere");
    const fs::path target = dir.write("elsewhere/backup.bin", Bytes{7});
    fs::create_symlink(target, dir / "link.bin");
    writeFileAtomically(dir / "link.bin", Bytes{8});
    EXPECT_TRUE(fs::is_symlink(dir / "link.bin"));
    EXPECT_EQ(readWholeFile(target), Bytes{8});
    fs::create_symlink("elsewhere/new.bin", dir / "dangling.bin");
    createFileAtomically(dir / "dangling.bin", Bytes{9});
    EXPECT_EQ(readWholeFile(dir / "elsewhere" / "new.bin"), Bytes{9});
    EXPECT_EQ(namesIn(dir / "elsewhere"), (std::vector<std::string>{"backup.bin", "new.bin"}));

    // A named pipe or a folder at the name is refused, and left as it was.
    const fs::path pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    fs::create_directory(dir / "folder");
    for (const auto& [path, what] :
         {std::pair{pipe, "a named pipe"}, {dir / "folder", "a folder"}}) {
        EXPECT_EQ(messageOf([&] { writeFileAtomically(path, Bytes{1}); }),
                  "Could not write " + path.string() + ": it is " + what + ", not a regular file.");
    }
    EXPECT_TRUE(fs::is_fifo(pipe));
    EXPECT_EQ(namesIn(dir.path()).size(), 7u); // no temporary file is left
}

TEST(FileIO, AFailedWriteInAReadOnlyFolderKeepsTheEarlierFile) {
    TempDir dir;
    ::chmod(dir.path().c_str(), 0755); // root's, and only readable to others
    // The file itself may be written by anyone: only a write in place could change it.
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
