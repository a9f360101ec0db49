#pragma once

class QWidget;

namespace pelwick {

/// The keyboard focus follows what the user sees.
namespace FocusOrder {

/// Chains Tab through the focusable widgets under `root` in the order of its layouts (top to
/// bottom, left to right within a row, into scroll areas), whatever order they were made in.
void followLayout(QWidget* root);

} // namespace FocusOrder

} // namespace pelwick
