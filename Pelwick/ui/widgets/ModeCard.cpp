#include "ui/widgets/ModeCard.h"

#include "ui/Theme.h"
#include "ui/widgets/Badge.h"
#include "ui/widgets/ToneLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace pelwick {

namespace {
constexpr int markColumn = 44;
}

ModeCard::ModeCard(const QString& title, const QString& detail, QWidget* parent)
    : QAbstractButton(parent), title_(new QLabel(title, this)),
      badge_(new Badge({}, Badge::Tone::success, "Recommended for a first session", this)),
      detail_(new ToneLabel(ToneLabel::Tone::secondary, detail, this)) {
    setCheckable(true);
    setAutoExclusive(true);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_Hover); // repainted as the pointer comes and goes
    setCursor(Qt::PointingHandCursor);
    setText(title);
    setAccessibleName(title);
    setAccessibleDescription(detail);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(markColumn, 15, 19, 16);
    layout->setSpacing(4);
    auto* top = new QHBoxLayout;
    top->setSpacing(10);
    QFont bold = title_->font();
    bold.setBold(true);
    bold.setPointSizeF(bold.pointSizeF() * 1.08);
    title_->setFont(bold);
    title_->setTextFormat(Qt::PlainText);
    top->addWidget(title_);
    top->addWidget(badge_);
    top->addStretch(1);
    layout->addLayout(top);
    layout->addWidget(detail_);
    badge_->hide();
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Minimum);
}

void ModeCard::setBadge(const QString& text) {
    badge_->setText(text);
    badge_->setVisible(!text.isEmpty());
}

QString ModeCard::badgeText() const {
    return badge_->isVisibleTo(this) ? badge_->text() : "";
}
QString ModeCard::detail() const {
    return detail_->text();
}

QSize ModeCard::sizeHint() const {
    return layout()->sizeHint();
}
QSize ModeCard::minimumSizeHint() const {
    return layout()->minimumSize();
}

void ModeCard::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const QColor accent = Theme::accent(pal);
    // The card leaves a margin for the keyboard focus ring around it.
    const QRectF area = QRectF(rect()).adjusted(4, 4, -4, -4);

    QColor fill = pal.color(QPalette::Base);
    QColor border = Theme::separator(pal);
    if (isChecked()) {
        fill = Theme::selectedFill(pal);
        border = accent;
    } else if (underMouse()) {
        border = Theme::tint(pal, accent, 0.45);
    }
    painter.setPen(QPen(border, isChecked() ? 1.6 : 1));
    painter.setBrush(fill);
    painter.drawRoundedRect(area, 10, 10);
    if (hasFocus()) {
        painter.setPen(QPen(Theme::focusRing(pal), 2, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(1, 1, -1, -1), 13, 13);
    }

    // Radio mark, level with the title.
    const QPointF centre(markColumn / 2.0 + 2, 15 + title_->height() / 2.0);
    painter.setPen(QPen(isChecked() ? accent : Theme::secondaryText(pal), 1.6));
    painter.setBrush(pal.color(QPalette::Base));
    painter.drawEllipse(centre, 8.5, 8.5);
    if (isChecked()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(accent);
        painter.drawEllipse(centre, 4.5, 4.5);
    }
}

} // namespace pelwick
