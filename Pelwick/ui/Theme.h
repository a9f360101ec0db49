#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace pelwick {

/// The window's colours and fonts. The palette comes in a light and a dark scheme; every other
/// colour is derived from the palette in use, so that texts and drawings stay readable in both.
/// Every text colour reaches a contrast of 4.5:1 on the background it is drawn on.
namespace Theme {

enum class ColorScheme { light, dark };

/// The palette of one scheme, for the Fusion style.
QPalette palette(ColorScheme scheme);
/// Makes `scheme` the application's palette (and so every window's, dialogs included).
void apply(ColorScheme scheme);
/// The scheme a palette looks like: dark when its window colour is dark.
ColorScheme schemeOf(const QPalette& palette);
bool isDark(const QPalette& palette);

/// Links, the current step, information boxes.
QColor accent(const QPalette& palette);
/// Background of primary buttons and selected segments, under white text.
QColor accentFill(const QPalette& palette);
/// Background of destructive buttons, under white text.
QColor destructiveFill(const QPalette& palette);
/// Verify pass, success boxes, completed steps.
QColor success(const QPalette& palette);
/// Write pass of a flash.
QColor flashing(const QPalette& palette);
/// Caution boxes and warnings.
QColor caution(const QPalette& palette);
/// Errors.
QColor danger(const QPalette& palette);
/// Secondary text: the window text blended towards the window colour.
QColor secondaryText(const QPalette& palette);
/// A faint line between areas.
QColor separator(const QPalette& palette);
/// Background of the step list, slightly set off from the window.
QColor cardBackground(const QPalette& palette);
/// Background of the chosen mode card and the current step.
QColor selectedFill(const QPalette& palette);
/// The ring around the widget that has the keyboard focus.
QColor focusRing(const QPalette& palette);
/// Background of a message box of the tone colour `tone`.
QColor noticeFill(const QPalette& palette, const QColor& tone);
/// Background of a badge whose text is drawn in `tone`.
QColor badgeFill(const QPalette& palette, const QColor& tone);
/// `color` over the window colour at `alpha` (0…1), as an opaque colour.
QColor tint(const QPalette& palette, const QColor& color, double alpha);

/// The system's fixed-width font at the application font's size.
QFont monospace();
/// The application font scaled by `factor`, optionally bold.
QFont scaled(double factor, bool bold = false);

} // namespace Theme

} // namespace pelwick
