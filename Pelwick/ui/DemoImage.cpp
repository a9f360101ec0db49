#include "ui/DemoImage.h"

#include <fstream>
#include <string>

namespace pelwick::DemoImage {

bool isDemoPattern(const std::filesystem::path& file) {
    const std::string expected(banner);
    std::string start(expected.size(), '\0');
    std::ifstream in(file, std::ios::binary);
    in.read(start.data(), std::streamsize(start.size()));
    return in.gcount() == std::streamsize(start.size()) && start == expected;
}

} // namespace pelwick::DemoImage
