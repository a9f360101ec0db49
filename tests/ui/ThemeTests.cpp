#include "UiHarness.h"

#include "ui/Theme.h"
#include "ui/platform/ColorSchemeFollower.h"
#include "ui/widgets/ElidedLabel.h"

#include <cmath>
#include <tuple>

namespace pelwick::testing {
namespace {

/// The WCAG contrast ratio of two opaque colours.
double contrast(const QColor& a, const QColor& b) {
    auto luminance = [](const QColor& color) {
        auto channel = [](double c) {
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(color.redF()) + 0.7152 * channel(color.greenF()) +
               0.0722 * channel(color.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

TEST(Theme, EveryTextReadsAtFourAndAHalfToOneInBothSchemes) {
    for (const Theme::ColorScheme scheme : {Theme::ColorScheme::light, Theme::ColorScheme::dark}) {
        const QPalette p = Theme::palette(scheme);
        const QColor text = p.color(QPalette::WindowText);
        const QColor window = p.color(QPalette::Window);
        const QColor white = Qt::white;
        std::vector<std::tuple<const char*, QColor, QColor>> pairs = {
            {"text", text, window},
            {"text on fields and cards", p.color(QPalette::Text), p.color(QPalette::Base)},
            {"secondary text", Theme::secondaryText(p), window},
            {"secondary text on cards", Theme::secondaryText(p), p.color(QPalette::Base)},
            {"secondary text in the step list", Theme::secondaryText(p), Theme::cardBackground(p)},
            {"secondary text of the chosen card", Theme::secondaryText(p), Theme::selectedFill(p)},
            {"disabled button text", p.color(QPalette::Disabled, QPalette::ButtonText), window},
            {"primary button", white, Theme::accentFill(p)},
            {"destructive button", white, Theme::destructiveFill(p)},
            {"selection", p.color(QPalette::HighlightedText), p.color(QPalette::Highlight)},
            {"tooltip", p.color(QPalette::ToolTipText), p.color(QPalette::ToolTipBase)},
        };
        for (const QColor& tone :
             {Theme::accent(p), Theme::success(p), Theme::caution(p), Theme::danger(p)}) {
            pairs.push_back({"tone text", tone, window});
            pairs.push_back({"badge", tone, Theme::badgeFill(p, tone)});
            pairs.push_back({"text in a message box", text, Theme::noticeFill(p, tone)});
        }
        for (const auto& [what, foreground, background] : pairs) {
            EXPECT_GE(contrast(foreground, background), 4.5)
                << (scheme == Theme::ColorScheme::dark ? "dark: " : "light: ") << what << " "
                << foreground.name().toStdString() << " on " << background.name().toStdString();
        }
    }
}

// The application's own follower (as the program runs it) applies the desktop's scheme and
// applies it again when the desktop's theme changes.
TEST(Theme, TheApplicationFollowsThePlatformsSchemeAndLooksAgainWhenItChanges) {
    UiHarness ui;
    ColorSchemeFollower follower;
    // The offscreen platform has a light palette and no desktop portal.
    EXPECT_EQ(follower.scheme(), Theme::ColorScheme::light);

    QApplication::setPalette(Theme::palette(Theme::ColorScheme::dark));
    QEvent themeChange(QEvent::ThemeChange);
    QApplication::sendEvent(ui.window->windowHandle(), &themeChange);
    ui.settle();
    EXPECT_EQ(QApplication::palette().color(QPalette::Window),
              Theme::palette(Theme::ColorScheme::light).color(QPalette::Window));
}

TEST(ElidedLabel, WrapsBetweenWordsAndShortensOnlyAWordTooLongForALine) {
    ElidedLabel label(ToneLabel::Tone::primary,
                      "Saved hp15c-ce-20230105-9090h-20260105-with-a-long-tail.bin · 9090h");
    const QFontMetrics metrics(label.font());
    const int width = metrics.horizontalAdvance("hp15c-ce-20230105");
    bool elided = false;
    const QStringList lines = label.lines(width, &elided);
    EXPECT_TRUE(elided);
    ASSERT_EQ(lines.size(), 3);
    EXPECT_EQ(lines[0], "Saved");
    EXPECT_TRUE(lines[1].startsWith("hp15c-") && lines[1].endsWith(".bin") &&
                lines[1].contains(QChar(0x2026)))
        << lines[1].toStdString();
    EXPECT_EQ(lines[2], "· 9090h");
    for (const QString& line : lines) {
        EXPECT_LE(metrics.horizontalAdvance(line), width);
    }
    label.lines(10000, &elided);
    EXPECT_FALSE(elided);
}

} // namespace
} // namespace pelwick::testing
