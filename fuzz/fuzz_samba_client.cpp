// The SAM-BA client, the applet driver and the flash driver talking to a monitor whose replies are
// the fuzz input. Every failure must be a FlasherError; nothing may crash, hang or over-allocate.
#include "device/FlasherError.h"
#include "flash/FlashCalw.h"
#include "samba/SambaClient.h"
#include "samba/SambaFlashApplet.h"

#include <algorithm>
#include <cstdint>
#include <memory>

namespace {

class FuzzReplies : public pelwick::ByteTransport {
public:
    FuzzReplies(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    void write(pelwick::ByteView) override {}
    pelwick::Bytes read(std::size_t max, double) override {
        if (offset_ >= size_) {
            return {};
        }
        // The first byte of each answer decides how much of the rest arrives at once.
        const std::size_t want =
            std::min<std::size_t>({max, std::size_t{1} + data_[offset_] % 97u, size_ - offset_});
        pelwick::Bytes out(data_ + offset_, data_ + offset_ + want);
        offset_ += want;
        return out;
    }
    void close() noexcept override {}

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t offset_ = 0;
};

template <typename Step> void attempt(Step&& step) {
    try {
        step();
    } catch (const pelwick::FlasherError&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto client = std::make_shared<pelwick::SambaClient>(std::make_unique<FuzzReplies>(data, size),
                                                         [](double) {});
    constexpr double tiny = 1e-4;
    attempt([&] { client->connect(tiny); });
    attempt([&] { (void)client->readWord(0x400E0740, tiny); });
    attempt([&] { (void)client->read(0x4000, 9000, tiny); });
    pelwick::SambaFlashApplet applet(*client, 0.0);
    attempt([&] { (void)applet.initialize(0, 0, 0); });
    attempt([&] {
        const pelwick::Bytes page(512, 0xAB);
        (void)applet.write(0x4000, page);
    });
    pelwick::FlashCalw driver(*client, 0.0);
    attempt([&] { (void)driver.identify(); });
    attempt([&] { (void)driver.readApplication(); });
    return 0;
}
