#include "flash/FlashLayout.h"

#include "support/ChildProcess.h"
#include "support/FlasherErrorOf.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace pelwick {
namespace {

using ::testing::ElementsAre;
using testing::flasherErrorOf;
using testing::TempDir;

TEST(FlashLayout, SafeRangeLiesWhollyInTheApplicationRegion) {
    using FlashLayout::isSafeApplicationRange;
    EXPECT_TRUE(isSafeApplicationRange(0x4000, 0x1C000));
    EXPECT_TRUE(isSafeApplicationRange(0x1FE00, 0x200)); // ends exactly at 0x20000
    EXPECT_TRUE(isSafeApplicationRange(0x1FFFF, 1));
    EXPECT_FALSE(isSafeApplicationRange(0x4000, 0x1C001));
    EXPECT_FALSE(isSafeApplicationRange(0x3FFF, 0x10));
    EXPECT_FALSE(isSafeApplicationRange(0x4000, 0));
    EXPECT_FALSE(isSafeApplicationRange(0x20000, 1));
    // Ranges whose end does not fit in 32 bits must not wrap around into the region.
    EXPECT_FALSE(isSafeApplicationRange(0xFFFFFF00, 0x200));
    EXPECT_FALSE(isSafeApplicationRange(0xFFFFFFFF, 1));
    EXPECT_FALSE(isSafeApplicationRange(0x4000, 0xFFFFFFFF));
}

TEST(FirmwareImage, LoadChecksPresenceThenEmptinessThenMaximumThenExactSize) {
    TempDir dir;
    const Bytes image = testing::patternImage(3);
    EXPECT_EQ(FirmwareImage::load(dir.write("fw.bin", image), true).data, image);
    EXPECT_EQ(flasherErrorOf([&] { FirmwareImage::load(dir / "missing.bin", true); }),
              FlasherError::firmwareNotFound(dir / "missing.bin"));

    struct Case {
        std::size_t size;
        bool exact;
        std::optional<FlasherError> refusal;
    };
    for (const Case& c : std::vector<Case>{
             {0, true, FlasherError::firmwareEmpty()},
             {0x1C001, false, FlasherError::firmwareTooLarge(0x1C001, 114688)},
             {100, true, FlasherError::firmwareWrongSize(100, 114688)},
             {100, false, std::nullopt},
         }) {
        const auto file = dir.write("f.bin", Bytes(c.size, 1));
        if (c.refusal) {
            EXPECT_EQ(flasherErrorOf([&] { FirmwareImage::load(file, c.exact); }), *c.refusal);
        } else {
            EXPECT_EQ(FirmwareImage::load(file, c.exact).data.size(), c.size);
        }
    }
}

std::string loadMessage(const std::filesystem::path& path) {
    try {
        FirmwareImage::load(path, true);
        return "loaded";
    } catch (...) {
        return currentExceptionMessage();
    }
}

TEST(FirmwareImage, LoadReadsOnlyRegularFilesWithoutWaitingOnAnythingElse) {
    TempDir dir;
    const auto pipe = dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "sub");
    // Should a load wait on the pipe, a writer that comes and goes releases it, so that the test
    // fails instead of hanging.
    std::jthread releaser([&](std::stop_token stop) {
        while (!stop.stop_requested()) {
            if (const int fd = ::open(pipe.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) {
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const std::pair<std::filesystem::path, std::string> refused[] = {
        {pipe, "a named pipe"},
        {"/dev/zero", "a device"},
        {dir / "sub", "a folder"},
    };
    for (const auto& [path, what] : refused) {
        EXPECT_EQ(loadMessage(path),
                  "Could not read " + path.string() + ": it is " + what + ", not a regular file.");
    }

    // A file that is there but may not be read says so; "not found" would send the user looking
    // in the wrong place.
    ::chmod(dir.path().c_str(), 0755);
    const auto locked = dir.write("locked.bin", testing::patternImage(1));
    ::chmod(locked.c_str(), 0600);
    EXPECT_EQ(testing::asNobody([&] { return loadMessage(locked); }),
              "Could not read " + locked.string() + ": Permission denied.");
}

TEST(FirmwareImage, LoadReadsNoMoreThanOneByteBeyondTheLargestImage) {
    TempDir dir;
    const auto huge = dir / "huge.bin";
    constexpr long long gibibyte = 1LL << 30;
    std::filesystem::resize_file(dir.write("huge.bin", {}), gibibyte); // sparse: no disk used
    // Reading the whole file would need a gibibyte; the load gets a quarter of that at most.
    const auto message = testing::inChildProcess(
        [] {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
            return true; // the sanitizers reserve more address space than any such limit
#else
            long pages = 0;
            std::ifstream("/proc/self/statm") >> pages;
            const rlim_t limit = static_cast<rlim_t>(pages) * ::sysconf(_SC_PAGESIZE) + (256 << 20);
            const rlimit space{limit, limit};
            return ::setrlimit(RLIMIT_AS, &space) == 0;
#endif
        },
        [&] { return loadMessage(huge); });
    EXPECT_EQ(message, FlasherError::firmwareTooLarge(gibibyte, 114688).errorDescription());
}

TEST(FlashPageWrite, HeaderAndLittleEndianWordLines) {
    EXPECT_EQ((FlashPageWrite{0x4000, 0, 224, {}}).header(), "Page 1 of 224 \u00B7 0x04000");
    EXPECT_EQ((FlashPageWrite{0x123456, 9, 10, {}}).header(), "Page 10 of 10 \u00B7 0x123456");

    auto lines = [](Bytes data, int wordsPerLine) {
        return FlashPageWrite{0x4000, 0, 1, std::move(data)}.formattedWordLines(wordsPerLine);
    };
    EXPECT_THAT(lines({0x34, 0x12, 0xCD, 0xAB, 0x01}, 16), ElementsAre("1234 ABCD")); // odd byte
    EXPECT_THAT(lines(Bytes(20, 0xFF), 4),
                ElementsAre("FFFF FFFF FFFF FFFF", "FFFF FFFF FFFF FFFF", "FFFF FFFF"));
    EXPECT_THAT(lines(Bytes(6, 0xAB), 0), ElementsAre("ABAB ABAB ABAB")); // no grouping
}

} // namespace
} // namespace pelwick
