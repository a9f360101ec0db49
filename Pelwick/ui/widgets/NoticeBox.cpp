#include "ui/widgets/NoticeBox.h"

#include "ui/Accessibility.h"
#include "ui/Theme.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

namespace pelwick {

/// The box's symbol: an "i" in a circle, a triangle with "!", a check mark or an "x" in a circle.
class ToneIcon : public QWidget {
public:
    explicit ToneIcon(QWidget* parent) : QWidget(parent) {
        setFixedSize(20, 20);
        Accessibility::describe(this, QAccessible::Graphic, {}, "Symbol of the message's kind");
    }

    void setAppearance(NoticeBox::Tone tone, QColor color, const QString& kind) {
        tone_ = tone;
        color_ = color;
        setAccessibleName(kind);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF r = QRectF(rect()).adjusted(1, 1, -1, -1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(color_);
        if (tone_ == NoticeBox::Tone::danger) {
            // An "x" in a circle.
            painter.drawEllipse(r);
            painter.setPen(QPen(QColor("#ffffff"), 2, Qt::SolidLine, Qt::RoundCap));
            const QPointF c = r.center();
            painter.drawLine(c + QPointF(-4, -4), c + QPointF(4, 4));
            painter.drawLine(c + QPointF(-4, 4), c + QPointF(4, -4));
            return;
        }
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
      message_(new QLabel(this)), note_(new QLabel(this)) {
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(12);
    row->addWidget(icon_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    QFont bold = label_->font();
    bold.setBold(true);
    label_->setFont(bold);
    for (QLabel* text : {label_, message_, note_}) {
        text->setTextFormat(Qt::PlainText);
        text->setWordWrap(true);
        texts->addWidget(text);
    }
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->setCursor(Qt::IBeamCursor);
    row->addLayout(texts, 1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    Accessibility::describe(this, QAccessible::StaticText, {}, {});
    setContent(tone, label, message);
}

void NoticeBox::setContent(Tone tone, const QString& label, const QString& message,
                           const QString& note) {
    tone_ = tone;
    label_->setText(label);
    label_->setVisible(!label.isEmpty());
    message_->setText(message);
    note_->setText(note);
    note_->setVisible(!note.isEmpty());
    const QString kind = toneName();
    setAccessibleName(label + ". " + message);
    setAccessibleDescription(note.isEmpty() ? kind : kind + ". " + note);
    icon_->setAppearance(tone_, toneColor(), kind);
    update();
}

QString NoticeBox::label() const {
    return label_->text();
}
QString NoticeBox::message() const {
    return message_->text();
}
QString NoticeBox::note() const {
    return note_->text();
}

QColor NoticeBox::toneColor() const {
    const QPalette pal = palette();
    switch (tone_) {
    case Tone::caution:
        return Theme::caution(pal);
    case Tone::success:
        return Theme::success(pal);
    case Tone::danger:
        return Theme::danger(pal);
    case Tone::neutral:
        break;
    }
    return Theme::accent(pal);
}

void NoticeBox::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        icon_->setAppearance(tone_, toneColor(), toneName());
    }
}

QString NoticeBox::toneName() const {
    static const char* const names[] = {"Information", "Warning", "Success", "Error"};
    return names[int(tone_)];
}

void NoticeBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const QColor color = toneColor();
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(Theme::tint(pal, color, Theme::isDark(pal) ? 0.45 : 0.35), 1));
    painter.setBrush(Theme::noticeFill(pal, color));
    painter.drawRoundedRect(area, 8, 8);
}

} // namespace pelwick
