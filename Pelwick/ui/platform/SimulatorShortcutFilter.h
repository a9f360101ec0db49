#pragma once

#include <QObject>

#include <functional>

class QKeyEvent;

namespace pelwick {

/// The demo shortcut, Ctrl+Shift+S (Command+Shift+S on macOS), seen application-wide: a key press
/// of S with exactly Control and Shift among Shift, Control, Alt and Meta, not auto-repeated, is
/// handed to `handler`, and swallowed when the handler takes it. Every other event passes on.
class SimulatorShortcutFilter : public QObject {
public:
    /// Returns whether the key was taken.
    using Handler = std::function<bool()>;

    explicit SimulatorShortcutFilter(Handler handler, QObject* parent = nullptr);

    static bool isShortcut(const QKeyEvent& event);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    Handler handler_;
};

} // namespace pelwick
