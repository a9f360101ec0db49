#pragma once

#include <QString>
#include <QWidget>

namespace pelwick {

/// The calculator's grey-green LCD showing a text such as "ChE - - 9090h" in seven-segment cells.
class CalculatorDisplay : public QWidget {
public:
    explicit CalculatorDisplay(QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
};

} // namespace pelwick
