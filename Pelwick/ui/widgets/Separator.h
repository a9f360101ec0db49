#pragma once

#include <QWidget>

namespace pelwick {

/// A faint one-pixel horizontal rule.
class Separator : public QWidget {
public:
    explicit Separator(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace pelwick
