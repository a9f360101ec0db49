#pragma once

#include <QPushButton>

namespace pelwick {

/// A secondary action: the style's own button with room around its text, as tall as the
/// prominent buttons beside it.
class PlainButton : public QPushButton {
public:
    explicit PlainButton(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
};

} // namespace pelwick
