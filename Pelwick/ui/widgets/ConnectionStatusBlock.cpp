#include "ui/widgets/ConnectionStatusBlock.h"

#include "ui/Theme.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace pelwick {

ConnectionStatusBlock::ConnectionStatusBlock(QWidget* parent)
    : QFrame(parent), lines_(new QLabel(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 10);
    lines_->setFont(Theme::monospace());
    lines_->setTextFormat(Qt::PlainText);
    lines_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    lines_->setWordWrap(true);
    lines_->setCursor(Qt::IBeamCursor);
    layout->addWidget(lines_);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    show("", std::nullopt, std::nullopt);
}

QString ConnectionStatusBlock::text(const std::string& status,
                                    const std::optional<std::string>& port,
                                    const std::optional<std::string>& sambaVersion) {
    const QString missing = QString::fromUtf8("\u2014");
    auto value = [&](const std::optional<std::string>& text) {
        return text ? QString::fromStdString(*text) : missing;
    };
    return "Status  " + QString::fromStdString(status) + "\nPort    " + value(port) + "\nSAM-BA  " +
           value(sambaVersion);
}

void ConnectionStatusBlock::show(const std::string& status, const std::optional<std::string>& port,
                                 const std::optional<std::string>& sambaVersion) {
    const QString shown = text(status, port, sambaVersion);
    if (lines_->text() != shown) {
        lines_->setText(shown);
        setAccessibleName("Connection status. " + QString(shown).replace('\n', ". "));
    }
}

QString ConnectionStatusBlock::text() const {
    return lines_->text();
}

void ConnectionStatusBlock::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    painter.setPen(QPen(Theme::separator(pal), 1));
    painter.setBrush(pal.color(QPalette::Base));
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
}

} // namespace pelwick
