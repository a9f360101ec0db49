#include "ui/widgets/NoticeBox.h"

#include "ui/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace pelwick {

/// The box's symbol: an "i" in a circle, a triangle with "!", or a check mark in a circle.
class ToneIcon : public QWidget {
public:
    explicit ToneIcon(QWidget* parent) : QWidget(parent) { setFixedSize(20, 20); }

    void setAppearance(NoticeBox::Tone tone, QColor color) {
        tone_ = tone;
        color_ = color;
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color_);
        if (tone_ == NoticeBox::Tone::caution) {
            QPainterPath triangle;
            triangle.moveTo(r.center().x(), r.top());
            triangle.lineTo(r.right(), r.bottom() - 1);
            triangle.lineTo(r.left(), r.bottom() - 1);
            triangle.closeSubpath();
            painter.drawPath(triangle);
            painter.setBrush(QColor("#ffffff"));
            painter.drawRoundedRect(QRectF(r.center().x() - 1.1, r.top() + 6, 2.2, 6.5), 1, 1);
            painter.drawEllipse(QPointF(r.center().x(), r.bottom() - 4), 1.3, 1.3);
            return;
        }
        painter.drawEllipse(r);
        if (tone_ == NoticeBox::Tone::success) {
            painter.setPen(QPen(QColor("#ffffff"), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
            painter.drawPolyline(QPolygonF({{r.left() + 5, r.center().y() + 0.5},
                                            {r.center().x() - 1, r.bottom() - 5.5},
                                            {r.right() - 4.5, r.top() + 5.5}}));
            return;
        }
        painter.setBrush(QColor("#ffffff"));
        painter.drawEllipse(QPointF(r.center().x(), r.top() + 5), 1.3, 1.3);
        painter.drawRoundedRect(QRectF(r.center().x() - 1.1, r.top() + 8, 2.2, 7), 1, 1);
    }

private:
    NoticeBox::Tone tone_ = NoticeBox::Tone::neutral;
    QColor color_;
};

NoticeBox::NoticeBox(Tone tone, const QString& label, const QString& message, QWidget* parent)
    : QWidget(parent), tone_(tone), icon_(new ToneIcon(this)), label_(new QLabel(this)),
      message_(new QLabel(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 12, 14, 12);
    row->setSpacing(12);
    row->addWidget(icon_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    QFont bold = label_->font();
    bold.setBold(true);
    label_->setFont(bold);
    label_->setTextFormat(Qt::PlainText);
    message_->setTextFormat(Qt::PlainText);
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    texts->addWidget(label_);
    texts->addWidget(message_);
    row->addLayout(texts, 1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    setContent(tone, label, message);
}

void NoticeBox::setContent(Tone tone, const QString& label, const QString& message) {
    tone_ = tone;
    label_->setText(label);
    message_->setText(message);
    setAccessibleName(label + ". " + message);
    icon_->setAppearance(tone_, toneColor());
    update();
}

QString NoticeBox::label() const {
    return label_->text();
}
QString NoticeBox::message() const {
    return message_->text();
}

QColor NoticeBox::toneColor() const {
    const QPalette pal = palette();
    switch (tone_) {
    case Tone::caution:
        return Theme::caution(pal);
    case Tone::success:
        return Theme::success(pal);
    case Tone::neutral:
        break;
    }
    return Theme::accent(pal);
}

void NoticeBox::paintEvent(QPaintEvent*) {
    icon_->setAppearance(tone_, toneColor());
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const QColor color = toneColor();
    const bool dark = Theme::isDark(pal);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Theme::tint(pal, color, dark ? 0.45 : 0.35), 1));
    painter.setBrush(Theme::noticeFill(pal, color));
    painter.drawRoundedRect(area, 8, 8);
}

} // namespace pelwick
