#include "TerminalLink.h"

#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>

namespace pelwick {
namespace {

namespace fs = std::filesystem;

TEST(TerminalLink, ReplacesOnlyLinksAndRemovesOnlyItsOwn) {
    testing::TempDir folder;
    const fs::path link = folder / "ttyACM0";
    {
        TerminalLink made(link, "/dev/pts/41");
        EXPECT_EQ(fs::read_symlink(link), "/dev/pts/41");
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(link)));

    // A stale link left by a killed simulator is replaced.
    fs::create_symlink("/dev/pts/7", link);
    {
        TerminalLink made(link, "/dev/pts/42");
        EXPECT_EQ(fs::read_symlink(link), "/dev/pts/42");
        // Someone else took the name meanwhile: their link stays.
        fs::remove(link);
        fs::create_symlink("/dev/pts/43", link);
    }
    EXPECT_EQ(fs::read_symlink(link), "/dev/pts/43");
    fs::remove(link);

    // A real file is never replaced.
    std::ofstream(link) << "keep me";
    EXPECT_THROW(TerminalLink(link, "/dev/pts/44"), std::runtime_error);
    std::ifstream kept(link);
    std::string content;
    std::getline(kept, content);
    EXPECT_EQ(content, "keep me");

    // A folder that does not exist gives the file system's reason.
    try {
        TerminalLink(folder / "absent" / "ttyACM0", "/dev/pts/45");
        ADD_FAILURE() << "no error";
    } catch (const fs::filesystem_error& error) {
        EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
    }
}

} // namespace
} // namespace pelwick
