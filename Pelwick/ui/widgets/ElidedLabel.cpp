#include "ui/widgets/ElidedLabel.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

namespace pelwick {

namespace {
// Below this width a line still shows a few characters on each side of the "…".
constexpr int narrowest = 80;
} // namespace

ElidedLabel::ElidedLabel(Tone tone, const QString& text, QWidget* parent)
    : ToneLabel(tone, text, parent) {
    setTextInteractionFlags(Qt::NoTextInteraction);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
}

QStringList ElidedLabel::lines(int width, bool* elided) const {
    const QFontMetrics metrics(font());
    width = std::max(width, narrowest);
    QStringList result;
    QString current;
    bool shortened = false;
    for (const QString& word : text().split(' ', Qt::SkipEmptyParts)) {
        const QString joined = current.isEmpty() ? word : current + ' ' + word;
        if (metrics.horizontalAdvance(joined) <= width) {
            current = joined;
            continue;
        }
        if (!current.isEmpty()) {
            result << current;
            current.clear();
        }
        if (metrics.horizontalAdvance(word) <= width) {
            current = word;
        } else {
            result << metrics.elidedText(word, Qt::ElideMiddle, width);
            shortened = true;
        }
    }
    if (!current.isEmpty()) {
        result << current;
    }
    if (elided) {
        *elided = shortened;
    }
    return result;
}

int ElidedLabel::heightForWidth(int width) const {
    const QMargins margins = contentsMargins();
    const int count = int(lines(width - margins.left() - margins.right()).size());
    return std::max(count, 1) * QFontMetrics(font()).lineSpacing() + margins.top() +
           margins.bottom();
}

QSize ElidedLabel::sizeHint() const {
    const QFontMetrics metrics(font());
    const int width = std::min(metrics.horizontalAdvance(text()), 480) + contentsMargins().left() +
                      contentsMargins().right();
    return QSize(width, heightForWidth(width));
}

QSize ElidedLabel::minimumSizeHint() const {
    return QSize(narrowest, QFontMetrics(font()).lineSpacing());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = contentsRect();
    const QFontMetrics metrics(font());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    bool elided = false;
    const QStringList shown = lines(area.width(), &elided);
    // The full text as the tooltip whenever the drawn lines shorten it.
    const QString tip = elided ? text() : QString();
    if (toolTip() != tip) {
        setToolTip(tip);
    }
    int y = area.top();
    for (const QString& line : shown) {
        painter.drawText(QRect(area.left(), y, area.width(), metrics.lineSpacing()),
                         Qt::AlignLeft | Qt::AlignVCenter, line);
        y += metrics.lineSpacing();
    }
}

} // namespace pelwick
