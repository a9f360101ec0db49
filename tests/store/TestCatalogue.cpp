#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <memory>

namespace {

// The shipped catalogue lists nothing yet, so the store suites load one of their own: one entry
// per model, none of them the simulator's preloaded 9090h.
class TestCatalogue : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = std::make_unique<pelwick::testing::TempDir>();
        const auto bundle = folder_->path() / "Pelwick_PelwickCore.bundle";
        std::filesystem::create_directory(bundle);
        std::ofstream(bundle / "known-firmware.json") << R"({"firmware": [
            {"checksum": "1515", "model": "HP 15c Collector’s Edition", "fileName": "hp15c-test",
             "description": "test"},
            {"checksum": "1616", "model": "HP 16c Collector’s Edition", "fileName": "hp16c-test",
             "description": "test"},
            {"checksum": "1212", "model": "HP 12c", "fileName": "hp12c-test", "description": "test"}
        ]})";
        setenv("PELWICK_BUNDLE_DIR", bundle.c_str(), 1);
    }

    void TearDown() override { folder_.reset(); }

private:
    std::unique_ptr<pelwick::testing::TempDir> folder_;
};

[[maybe_unused]] const auto* const catalogue =
    ::testing::AddGlobalTestEnvironment(new TestCatalogue);

} // namespace
