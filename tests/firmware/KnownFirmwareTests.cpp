#include "firmware/KnownFirmware.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace pelwick {
namespace {

namespace fs = std::filesystem;

const std::string hp15c = "HP 15c Collector’s Edition";
const std::string hp16c = "HP 16c Collector’s Edition";
const std::string hp12c = "HP 12c";

nlohmann::json item(const std::string& checksum, const std::string& model = hp15c,
                    const std::string& fileName = "stem") {
    return {{"checksum", checksum}, {"model", model}, {"fileName", fileName}, {"description", ""}};
}

std::string catalogue(const std::vector<nlohmann::json>& items) {
    return nlohmann::json{{"firmware", items}}.dump();
}

std::vector<KnownFirmwareEntry> parseText(const std::string& text) {
    return KnownFirmware::parse(
        ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
}

/// The validation message for `text`, or a note saying how parsing ended otherwise.
std::string listErrorOf(const std::string& text) {
    try {
        parseText(text);
        return "(accepted)";
    } catch (const KnownFirmware::ListError& error) {
        EXPECT_EQ(error.description(), error.what());
        return error.description();
    } catch (const std::exception& error) {
        return std::string("(other error) ") + error.what();
    }
}

std::string badChecksum(const std::string& text) {
    return "Known firmware checksum \"" + text + "\" is not a 4-digit hex value.";
}

TEST(KnownFirmwareParse, AcceptsValidItemsInFileOrderAndRefusesTheFirstBadOneWithItsReason) {
    const auto entries = parseText(R"({"firmware": [
        {"model": "HP 12c", "description": "", "checksum": "0X9a9A", "fileName": "v2",
         "notes": "extra keys are ignored"},
        {"checksum": "1", "model": "HP 16c Collector’s Edition", "fileName": "model-a1",
         "description": "Rev B"}
    ], "comment": 1})");
    const std::vector<KnownFirmwareEntry> expected = {{0x9A9A, hp12c, "v2", ""},
                                                      {0x0001, hp16c, "model-a1", "Rev B"}};
    EXPECT_EQ(entries, expected);

    const std::string models = "\" must be one of HP 15c Collector’s Edition, HP 16c Collector’s "
                               "Edition, HP 12c.";
    const std::string names = "\" may use only lowercase letters, digits, and hyphens.";
    const std::vector<std::pair<std::vector<nlohmann::json>, std::string>> cases = {
        {{item("1111", "HP 15c Collector's Edition")},
         "Known firmware model \"HP 15c Collector's Edition" + models},
        {{item("2222"), item("1A1A"), item("0x1a1a")},
         "Known firmware checksum 0x1a1a is listed twice."},
        // Within one item: checksum, then model, then fileName; across items the first failing one.
        {{item("GGGG", "Nope", "BAD")}, badChecksum("GGGG")},
        {{item("1111", "Nope", "BAD")}, "Known firmware model \"Nope" + models},
        {{item("1111"), item("1111", hp15c, "model.bin")},
         "Known firmware fileName \"model.bin" + names},
        {{item("9A9A9")}, badChecksum("9A9A9")},
        {{item("-1")}, badChecksum("-1")},
        {{item("")}, badChecksum("")},
    };
    for (const auto& [items, error] : cases) {
        EXPECT_EQ(listErrorOf(catalogue(items)), error);
    }
}

void writeText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string fatal(const std::string& message) {
    return "Fatal error: " + message + "\n";
}

/// Loads the shipped catalogue with the bundle folder `bundle`; when loading succeeds, ends with
/// status 0 and reports the size.
void loadCatalogueFrom(const fs::path& bundle) {
    ::setenv("PELWICK_BUNDLE_DIR", bundle.c_str(), 1);
    std::fprintf(stderr, "loaded %zu", KnownFirmware::all().size());
    std::fflush(stderr);
    std::_Exit(0);
}

TEST(KnownFirmwareLoadingDeathTest, StopsOnABrokenBundle) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // The same path in the re-executed child that runs each death test.
    const fs::path root =
        fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "firmware-test-bundles";
    fs::remove_all(root);
    writeText(root / "no-json" / "other.json", "{}");
    writeText(root / "duplicate" / "known-firmware.json",
              catalogue({item("9090"), item("0x9090")}));
    writeText(root / "good" / "known-firmware.json", catalogue({item("1A1A"), item("2b2b")}));

    using ::testing::Eq;
    using ::testing::ExitedWithCode;
    EXPECT_EXIT(loadCatalogueFrom(root / "no-json"), ExitedWithCode(70),
                Eq(fatal("known-firmware.json is missing from the PelwickCore bundle.")));
    EXPECT_EXIT(loadCatalogueFrom(root / "duplicate"), ExitedWithCode(70),
                Eq(fatal("known-firmware.json is invalid: Known firmware checksum 0x9090 is "
                         "listed twice.")));
    EXPECT_EXIT(loadCatalogueFrom(root / "good"), ExitedWithCode(0), Eq("loaded 2"));
    fs::remove_all(root);
}

} // namespace
} // namespace pelwick
