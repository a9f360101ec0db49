#pragma once

#include <QPushButton>

namespace pelwick {

/// The main action of a screen: a filled button in the accent colour.
class ProminentButton : public QPushButton {
public:
    explicit ProminentButton(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QFont buttonFont() const;
    bool hovered_ = false;
};

} // namespace pelwick
