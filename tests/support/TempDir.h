#pragma once

#include "util/Bytes.h"

#include <filesystem>
#include <string>

namespace pelwick::testing {

/// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    /// Writes a file in the folder and returns its path.
    std::filesystem::path write(const std::string& name, const Bytes& bytes) const;

private:
    std::filesystem::path path_;
};

/// The bytes of `text`, as a command or reply on the line.
inline Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}
/// `length` bytes of a pattern seeded by `seed`.
Bytes patternBytes(std::size_t length, unsigned seed);
/// A 114,688-byte test image (not calculator firmware): the pattern of `seed`.
inline Bytes patternImage(unsigned seed = 1) {
    return patternBytes(0x1C000, seed);
}

} // namespace pelwick::testing
