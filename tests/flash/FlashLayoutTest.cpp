#include "flash/FlashLayout.h"

#include "support/FlasherErrorOf.h"
#include "support/TempDir.h"
#include "util/FileIO.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

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

TEST(FirmwareImage, ValidateChecksEmptinessThenMaximumThenExactSize) {
    EXPECT_EQ(flasherErrorOf([] { FirmwareImage::validate(Bytes(), false); }),
              FlasherError::firmwareEmpty());
    EXPECT_EQ(flasherErrorOf([] { FirmwareImage::validate(Bytes(), true); }),
              FlasherError::firmwareEmpty());
    EXPECT_EQ(flasherErrorOf([] { FirmwareImage::validate(Bytes(0x1C001), true); }),
              FlasherError::firmwareTooLarge(0x1C001, 114688));
    EXPECT_EQ(flasherErrorOf([] { FirmwareImage::validate(Bytes(100), true); }),
              FlasherError::firmwareWrongSize(100, 114688));

    EXPECT_NO_THROW(FirmwareImage::validate(Bytes(100), false));
    EXPECT_NO_THROW(FirmwareImage::validate(Bytes(1), false));
    EXPECT_NO_THROW(
        FirmwareImage::validate(Bytes(0x1C000, 0x00), true)); // content is not looked at
}

TEST(FirmwareImage, LoadStandardizesThePathAndReportsWhatIsWrong) {
    TempDir dir;
    const Bytes image = testing::patternImage(3);
    dir.write("fw.bin", image);
    std::filesystem::create_directory(dir / "sub");

    const FirmwareImage loaded =
        FirmwareImage::load(dir.path() / "." / "sub" / ".." / "fw.bin", true);
    EXPECT_EQ(loaded.url, dir / "fw.bin");
    EXPECT_EQ(loaded.data, image);

    EXPECT_EQ(flasherErrorOf([&] { FirmwareImage::load(dir.path() / "." / "missing.bin", true); }),
              FlasherError::firmwareNotFound(dir / "missing.bin"));

    dir.write("short.bin", Bytes(100, 1));
    EXPECT_EQ(flasherErrorOf([&] { FirmwareImage::load(dir / "short.bin", true); }),
              FlasherError::firmwareWrongSize(100, 114688));
    EXPECT_EQ(FirmwareImage::load(dir / "short.bin", false).data.size(), 100u);
    dir.write("empty.bin", Bytes());
    EXPECT_EQ(flasherErrorOf([&] { FirmwareImage::load(dir / "empty.bin", false); }),
              FlasherError::firmwareEmpty());

    // Something that exists but cannot be read as a file gives the file system's own error.
    try {
        FirmwareImage::load(dir / "sub", true);
        ADD_FAILURE() << "a folder was loaded";
    } catch (const FlasherError& error) {
        ADD_FAILURE() << error.errorDescription();
    } catch (const std::filesystem::filesystem_error& error) {
        EXPECT_EQ(userMessage(error),
                  "Could not read " + (dir / "sub").string() + ": Is a directory.");
    }
}

TEST(FlashPageWrite, HeaderNamesPageCountAndAddress) {
    EXPECT_EQ((FlashPageWrite{0x4000, 0, 224, {}}).header(), "Page 1 of 224 \u00B7 0x04000");
    EXPECT_EQ((FlashPageWrite{0x1FE00, 223, 224, {}}).header(), "Page 224 of 224 \u00B7 0x1FE00");
    EXPECT_EQ((FlashPageWrite{0x123456, 9, 10, {}}).header(), "Page 10 of 10 \u00B7 0x123456");
}

TEST(FlashPageWrite, WordLinesAreLittleEndianWordsInGroups) {
    auto lines = [](Bytes data, int wordsPerLine) {
        return FlashPageWrite{0x4000, 0, 1, std::move(data)}.formattedWordLines(wordsPerLine);
    };
    EXPECT_THAT(lines({0x34, 0x12, 0xCD, 0xAB}, 16), ElementsAre("1234 ABCD"));
    EXPECT_THAT(lines({0x01, 0x02, 0x03}, 16), ElementsAre("0201")); // odd byte not shown
    EXPECT_TRUE(lines({}, 16).empty());
    EXPECT_TRUE(lines({0x01}, 16).empty());
    EXPECT_THAT(lines(Bytes(20, 0xFF), 4),
                ElementsAre("FFFF FFFF FFFF FFFF", "FFFF FFFF FFFF FFFF", "FFFF FFFF"));
    EXPECT_THAT(lines(Bytes(8, 0x00), 4), ElementsAre("0000 0000 0000 0000")); // no empty tail
    std::string oneLine = "ABAB";
    for (int i = 1; i < 20; ++i) {
        oneLine += " ABAB";
    }
    for (const int none : {0, -3}) {
        EXPECT_THAT(lines(Bytes(40, 0xAB), none), ElementsAre(oneLine));
    }

    Bytes page(512);
    for (std::size_t i = 0; i < page.size(); ++i) {
        page[i] = static_cast<std::uint8_t>(i);
    }
    const auto pageLines = lines(page, 16);
    ASSERT_EQ(pageLines.size(), 16u);
    for (const auto& line : pageLines) {
        EXPECT_EQ(line.size(), 79u);
    }
    EXPECT_EQ(pageLines.front().substr(0, 14), "0100 0302 0504");
    EXPECT_EQ(pageLines.back().substr(65), "FBFA FDFC FFFE");
}

} // namespace
} // namespace pelwick
