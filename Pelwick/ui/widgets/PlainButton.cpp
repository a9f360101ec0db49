#include "ui/widgets/PlainButton.h"

#include <algorithm>

namespace pelwick {

PlainButton::PlainButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize PlainButton::sizeHint() const {
    const QSize base = QPushButton::sizeHint();
    const int height = fontMetrics().height() + 16;
    return QSize(std::max(base.width() + 24, 88), std::max(base.height(), height));
}

} // namespace pelwick
