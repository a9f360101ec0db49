#include "UiHarness.h"

#include "ui/Theme.h"
#include "ui/platform/ColorSchemeFollower.h"

namespace pelwick::testing {
namespace {

// The application's own follower (as the program runs it) applies the desktop's scheme and
// applies it again when the desktop's theme changes.
TEST(Theme, TheApplicationFollowsThePlatformsSchemeAndLooksAgainWhenItChanges) {
    UiHarness ui;
    ColorSchemeFollower follower;
    // The offscreen platform has a light palette and no desktop portal.
    EXPECT_EQ(follower.scheme(), Theme::ColorScheme::light);
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
              Theme::palette(Theme::ColorScheme::light).color(QPalette::Window));

    QApplication::setPalette(Theme::palette(Theme::ColorScheme::dark));
    QEvent themeChange(QEvent::ThemeChange);
    QApplication::sendEvent(ui.window->windowHandle(), &themeChange);
    ui.settle();
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
              Theme::palette(Theme::ColorScheme::light).color(QPalette::Window));
}

} // namespace
} // namespace pelwick::testing
