#include "ui/widgets/ConnectionStatusBlock.h"

#include "ui/Accessibility.h"
#include "ui/Theme.h"
#include "ui/widgets/TextLabels.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

namespace pelwick {

ConnectionStatusBlock::ConnectionStatusBlock(QWidget* parent)
    : QFrame(parent), lines_(new QLabel(this)), help_(TextLabels::help(this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 10);
    lines_->setFont(Theme::monospace());
    lines_->setTextFormat(Qt::PlainText);
    lines_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lines_->setWordWrap(true);
    lines_->setCursor(Qt::IBeamCursor);
    layout->addWidget(lines_);
    layout->addWidget(help_);
    help_->hide();
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
    Accessibility::describe(this, QAccessible::StaticText, {},
                            "Status, port and SAM-BA version of the connection to the calculator");
    show("", std::nullopt, std::nullopt);
}

QString ConnectionStatusBlock::text(const std::string& status,
                                    const std::optional<std::string>& port,
                                    const std::optional<std::string>& sambaVersion,
                                    const std::optional<UsbIdentity>& usb) {
    const QString missing = QString::fromUtf8("\u2014");
    auto value = [&](const std::optional<std::string>& text) {
        return text ? QString::fromStdString(*text) : missing;
    };
    QString lines = "Status  " + QString::fromStdString(status) + "\nPort    " + value(port) +
                    "\nSAM-BA  " + value(sambaVersion);
    if (usb) {
        lines += "\nUSB     " + QString::fromStdString(usb->description());
        if (usb->isSambaMonitor()) {
            lines += QString::fromUtf8(" \u00B7 SAM-BA monitor");
        }
    }
    return lines;
}

void ConnectionStatusBlock::show(const std::string& status, const std::optional<std::string>& port,
                                 const std::optional<std::string>& sambaVersion,
                                 const std::optional<UsbIdentity>& usb,
                                 const std::optional<std::string>& help) {
    const QString shown = text(status, port, sambaVersion, usb);
    const QString helpText = help ? QString::fromStdString(*help) : QString();
    if (lines_->text() != shown || help_->text() != helpText) {
        lines_->setText(shown);
        help_->setText(helpText);
        help_->setVisible(help.has_value());
        setAccessibleName("Connection status. " + QString(shown).replace('\n', ". ") +
                          (help ? ". " + helpText : QString()));
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
