#include "ui/Theme.h"

#include <QApplication>
#include <QFontDatabase>

namespace pelwick::Theme {

namespace {

QColor pick(const QPalette& palette, const char* light, const char* dark) {
    return QColor(isDark(palette) ? dark : light);
}

QPalette lightPalette() {
    QPalette p(QColor("#fbfbfa"), QColor("#f4f4f2"));
    p.setColor(QPalette::Window, QColor("#f4f4f2"));
    p.setColor(QPalette::WindowText, QColor("#1d1d1f"));
    p.setColor(QPalette::Base, QColor("#ffffff"));
    p.setColor(QPalette::AlternateBase, QColor("#ececea"));
    p.setColor(QPalette::Text, QColor("#1d1d1f"));
    p.setColor(QPalette::Button, QColor("#fbfbfa"));
    p.setColor(QPalette::ButtonText, QColor("#1d1d1f"));
    p.setColor(QPalette::Highlight, QColor("#1d58b8"));
    p.setColor(QPalette::HighlightedText, QColor("#ffffff"));
    p.setColor(QPalette::ToolTipBase, QColor("#ffffff"));
    p.setColor(QPalette::ToolTipText, QColor("#1d1d1f"));
    p.setColor(QPalette::PlaceholderText, QColor("#6e6e70"));
    p.setColor(QPalette::Link, QColor("#1d58b8"));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor("#6e6e70"));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor("#6e6e70"));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor("#6e6e70"));
    return p;
}

QPalette darkPalette() {
    QPalette p(QColor("#36363a"), QColor("#232326"));
    p.setColor(QPalette::Window, QColor("#232326"));
    p.setColor(QPalette::WindowText, QColor("#ececee"));
    p.setColor(QPalette::Base, QColor("#1a1a1c"));
    p.setColor(QPalette::AlternateBase, QColor("#2c2c30"));
    p.setColor(QPalette::Text, QColor("#ececee"));
    p.setColor(QPalette::Button, QColor("#36363a"));
    p.setColor(QPalette::ButtonText, QColor("#ececee"));
    p.setColor(QPalette::Highlight, QColor("#3a72d0"));
    p.setColor(QPalette::HighlightedText, QColor("#ffffff"));
    p.setColor(QPalette::ToolTipBase, QColor("#2c2c30"));
    p.setColor(QPalette::ToolTipText, QColor("#ececee"));
    p.setColor(QPalette::PlaceholderText, QColor("#a0a0a5"));
    p.setColor(QPalette::Link, QColor("#7cb0f8"));
    p.setColor(QPalette::Light, QColor("#4a4a50"));
    p.setColor(QPalette::Midlight, QColor("#3c3c41"));
    p.setColor(QPalette::Mid, QColor("#2e2e32"));
    p.setColor(QPalette::Dark, QColor("#151517"));
    p.setColor(QPalette::Shadow, QColor("#000000"));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor("#a0a0a5"));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor("#a0a0a5"));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor("#a0a0a5"));
    p.setColor(QPalette::Disabled, QPalette::Button, QColor("#2c2c30"));
    return p;
}

} // namespace

QPalette palette(ColorScheme scheme) {
    return scheme == ColorScheme::dark ? darkPalette() : lightPalette();
}

void apply(ColorScheme scheme) {
    QApplication::setPalette(palette(scheme));
}

ColorScheme schemeOf(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128 ? ColorScheme::dark
                                                             : ColorScheme::light;
}

bool isDark(const QPalette& palette) {
    return schemeOf(palette) == ColorScheme::dark;
}

QColor accent(const QPalette& palette) {
    return pick(palette, "#1d58b8", "#7cb0f8");
}
QColor accentFill(const QPalette& palette) {
    return pick(palette, "#1d58b8", "#3a72d0");
}
QColor destructiveFill(const QPalette& palette) {
    return pick(palette, "#b3221a", "#c7382e");
}
QColor success(const QPalette& palette) {
    return pick(palette, "#146c35", "#5fd07c");
}
QColor flashing(const QPalette& palette) {
    return pick(palette, "#1a56c4", "#4f8ff7");
}
QColor caution(const QPalette& palette) {
    return pick(palette, "#8a4f00", "#f3bd5c");
}
QColor danger(const QPalette& palette) {
    return pick(palette, "#b3221a", "#ff8c84");
}

QColor tint(const QPalette& palette, const QColor& color, double alpha) {
    const QColor base = palette.color(QPalette::Window);
    auto mix = [&](int over, int under) { return int(over * alpha + under * (1.0 - alpha)); };
    return QColor(mix(color.red(), base.red()), mix(color.green(), base.green()),
                  mix(color.blue(), base.blue()));
}

QColor secondaryText(const QPalette& palette) {
    return tint(palette, palette.color(QPalette::WindowText), 0.68);
}

QColor separator(const QPalette& palette) {
    return tint(palette, palette.color(QPalette::WindowText), 0.16);
}

QColor cardBackground(const QPalette& palette) {
    return isDark(palette) ? palette.color(QPalette::Window).lighter(118)
                           : palette.color(QPalette::Window).lighter(104);
}

QColor selectedFill(const QPalette& palette) {
    return tint(palette, accent(palette), isDark(palette) ? 0.18 : 0.08);
}

QColor focusRing(const QPalette& palette) {
    return accent(palette);
}

QColor noticeFill(const QPalette& palette, const QColor& tone) {
    return tint(palette, tone, isDark(palette) ? 0.16 : 0.08);
}

QColor badgeFill(const QPalette& palette, const QColor& tone) {
    return tint(palette, tone, isDark(palette) ? 0.18 : 0.10);
}

QFont monospace() {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPointSizeF(QApplication::font().pointSizeF() * 0.95);
    return font;
}

QFont scaled(double factor, bool bold) {
    QFont font = QApplication::font();
    font.setPointSizeF(font.pointSizeF() * factor);
    font.setBold(bold);
    return font;
}

} // namespace pelwick::Theme
