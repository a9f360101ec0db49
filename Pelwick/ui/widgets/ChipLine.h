#pragma once

#include <QWidget>

namespace pelwick {

struct ConnectionState;

/// The wizard header's connection pill: a coloured dot and the connected chip's name, or "Not
/// connected".
class ChipLine : public QWidget {
public:
    explicit ChipLine(QWidget* parent = nullptr);

    void show(const ConnectionState& state);
    const QString& text() const { return text_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    bool connected_ = false;
    bool supported_ = false;
};

} // namespace pelwick
