#include "device/DeviceText.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace pelwick {
namespace {

TEST(DeviceText, PassesTextAndEscapesWhatATerminalWouldActOn) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"v1.1 Dec 15 2013 19:03:14", "v1.1 Dec 15 2013 19:03:14"},
        {"Atmel Corp. \u00B7 SAM-BA \u2014 \U0001F5A9",
         "Atmel Corp. \u00B7 SAM-BA \u2014 \U0001F5A9"},
        // An escape sequence, a line break, DEL.
        {"\x1B[2Jv1\r\n\x7F", "\\x1B[2Jv1\\x0D\\x0A\\x7F"},
        // Invalid bytes, an overlong form, a surrogate, a sequence cut short.
        {"\xFF\xC0\x80\xED\xA0\x80\xE2\x82", "\\xFF\\xC0\\x80\\xED\\xA0\\x80\\xE2\\x82"},
        // A C1 control (NEL) and a right-to-left override.
        {"a\xC2\x85z\xE2\x80\xAEz", "a\\xC2\\x85z\\xE2\\x80\\xAEz"},
    };
    for (const auto& [raw, shown] : cases) {
        EXPECT_EQ(escapedDeviceText(raw), shown) << shown;
    }
}

} // namespace
} // namespace pelwick
