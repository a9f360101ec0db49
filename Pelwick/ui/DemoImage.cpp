#include "ui/DemoImage.h"

#include <fstream>
#include <string>

namespace pelwick::DemoImage {

bool isDemoPattern(const std::filesystem::path& file) {
    // Only a regular file is opened: a FIFO put in a file's place would block the reading.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return false;
    }
    const std::string expected(banner);
    std::string start(expected.size(), '\0');
    std::ifstream in(file, std::ios::binary);
    in.read(start.data(), std::streamsize(start.size()));
    return in.gcount() == std::streamsize(start.size()) && start == expected;
}

} // namespace pelwick::DemoImage
