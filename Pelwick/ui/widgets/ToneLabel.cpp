#include "ui/widgets/ToneLabel.h"

#include "ui/Theme.h"

#include <QEvent>

namespace pelwick {

ToneLabel::ToneLabel(Tone tone, const QString& text, QWidget* parent)
    : QLabel(text, parent), tone_(tone) {
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    applyTone();
}

void ToneLabel::setTone(Tone tone) {
    if (tone == tone_) {
        return;
    }
    tone_ = tone;
    applyTone();
}

void ToneLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) {
        applyTone();
    }
}

void ToneLabel::applyTone() {
    if (applying_) {
        return;
    }
    applying_ = true;
    const QPalette base = parentWidget() ? parentWidget()->palette() : QPalette();
    QColor color = base.color(QPalette::WindowText);
    switch (tone_) {
    case Tone::primary:
        break;
    case Tone::secondary:
        color = Theme::secondaryText(base);
        break;
    case Tone::danger:
        color = Theme::danger(base);
        break;
    case Tone::caution:
        color = Theme::caution(base);
        break;
    case Tone::success:
        color = Theme::success(base);
        break;
    }
    QPalette own = palette();
    own.setColor(QPalette::WindowText, color);
    own.setColor(QPalette::Text, color);
    setPalette(own);
    applying_ = false;
}

} // namespace pelwick
