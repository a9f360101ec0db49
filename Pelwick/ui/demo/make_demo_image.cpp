// Writes the DEMO sample image: 114,688 bytes that fill the application region 0x04000–0x1FFFF
// of the simulated calculator. It is not calculator firmware: a readable banner at every 4 KiB
// and a fixed pattern in between, so that anyone opening the file sees what it is.
#include "ui/DemoImage.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::cerr << "usage: make_demo_image OUTPUT\n";
        return 2;
    }
    constexpr std::size_t imageSize = 0x1C000;
    constexpr std::size_t bannerEvery = 0x1000;
    const std::string banner = pelwick::DemoImage::banner;
    std::vector<unsigned char> image(imageSize);
    for (std::size_t i = 0; i < imageSize; ++i) {
        image[i] = static_cast<unsigned char>((i * 31 + (i >> 8) * 7 + 0x5A) & 0xFF);
    }
    for (std::size_t offset = 0; offset < imageSize; offset += bannerEvery) {
        std::memcpy(image.data() + offset, banner.data(), banner.size());
    }
    image[imageSize - 1] = 0xA5; // never ends in zeros, so the whole image counts for the checksum

    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
    out.close();
    if (!out) {
        std::cerr << "make_demo_image: could not write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
