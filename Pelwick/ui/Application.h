#pragma once

namespace pelwick {

/// Sets up the running QApplication as the window expects it: names (for the settings), the
/// Fusion style and the accessibility of the custom-drawn widgets. The colour scheme is applied
/// separately (`Theme::apply`, or a `ColorSchemeFollower` that keeps it in step with the desktop).
void prepareApplication();

} // namespace pelwick
