#include "ui/widgets/FlashPagePreview.h"

#include "ui/Accessibility.h"
#include "ui/Theme.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace pelwick {

FlashPagePreview::FlashPagePreview(QWidget* parent)
    : QWidget(parent), header_(new QLabel(this)), lines_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    QFont bold = header_->font();
    bold.setBold(true);
    header_->setFont(bold);
    header_->setTextFormat(Qt::PlainText);
    QFont mono = Theme::monospace();
    mono.setPointSizeF(mono.pointSizeF() * 0.86);
    layout->setContentsMargins(14, 7, 14, 8);
    layout->setSpacing(4);
    lines_->setFont(mono);
    lines_->setTextFormat(Qt::PlainText);
    lines_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(header_);
    layout->addWidget(lines_);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    Accessibility::describe(this, QAccessible::StaticText, "Flash page data.",
                            "The words of the page last written, in hexadecimal");
}

void FlashPagePreview::show(const std::string& header, const std::vector<std::string>& lines) {
    QStringList joined;
    for (const std::string& line : lines) {
        joined << QString::fromStdString(line);
    }
    header_->setText(QString::fromStdString(header));
    lines_->setText(joined.join('\n'));
    setAccessibleName("Flash page data. " + QString::fromStdString(header));
}

QString FlashPagePreview::header() const {
    return header_->text();
}
QString FlashPagePreview::lines() const {
    return lines_->text();
}

void FlashPagePreview::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    painter.setPen(QPen(Theme::separator(pal), 1));
    painter.setBrush(pal.color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

} // namespace pelwick
