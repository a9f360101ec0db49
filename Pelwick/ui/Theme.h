#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>

namespace pelwick {

/// The few colours and fonts the window uses besides the palette's own. Every colour comes in a
/// light and a dark variant chosen from the palette, so texts and drawings stay readable in both
/// colour schemes.
namespace Theme {

/// The palette's window colour is dark.
bool isDark(const QPalette& palette);

QColor accent(const QPalette& palette);
/// Background of filled buttons and selected segments, under white text.
QColor accentFill(const QPalette& palette);
/// Verify pass, success boxes.
QColor success(const QPalette& palette);
/// Write pass of a flash.
QColor flashing(const QPalette& palette);
/// Caution boxes and warnings.
QColor caution(const QPalette& palette);
/// Error texts.
QColor danger(const QPalette& palette);
/// Secondary text: the window text blended towards the window colour.
QColor secondaryText(const QPalette& palette);
/// A faint line between areas.
QColor separator(const QPalette& palette);
/// Background of cards and boxes, slightly set off from the window.
QColor cardBackground(const QPalette& palette);
/// `color` over the window colour at `alpha` (0…1), as an opaque colour.
QColor tint(const QPalette& palette, const QColor& color, double alpha);

/// The system's fixed-width font at the application font's size.
QFont monospace();
/// The application font scaled by `factor`, optionally bold.
QFont scaled(double factor, bool bold = false);

/// A light and a dark palette for the Fusion style, used when rendering both schemes.
QPalette lightPalette();
QPalette darkPalette();

} // namespace Theme

} // namespace pelwick
