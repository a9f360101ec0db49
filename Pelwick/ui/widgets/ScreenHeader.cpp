#include "ui/widgets/ScreenHeader.h"

#include "ui/AppInfo.h"
#include "ui/Theme.h"
#include "ui/widgets/Badge.h"
#include "ui/widgets/ToneLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace pelwick {

ScreenHeader::ScreenHeader(QWidget* parent)
    : QWidget(parent), badge_(new Badge({}, Badge::Tone::accent, "Session mode", this)),
      title_(new QLabel(this)), subtitle_(new ToneLabel(ToneLabel::Tone::secondary, {}, this)),
      row_(new QHBoxLayout) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    QFont big = title_->font();
    big.setPointSizeF(big.pointSizeF() * 1.75);
    big.setBold(true);
    title_->setFont(big);
    title_->setTextFormat(Qt::PlainText);
    row_->setSpacing(10);
    row_->addWidget(badge_, 0, Qt::AlignVCenter);
    row_->addWidget(title_, 0, Qt::AlignVCenter);
    row_->addStretch(1);
    layout->addLayout(row_);
    subtitle_->setWordWrap(true);
    layout->addWidget(subtitle_);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);
}

void ScreenHeader::show(const QString& badge, const QString& title, const QString& subtitle) {
    badge_->setText(badge);
    badge_->setVisible(!badge.isEmpty());
    title_->setText(title);
    subtitle_->setText(subtitle);
}

void ScreenHeader::setTrailing(QWidget* widget) {
    row_->addWidget(widget, 0, Qt::AlignVCenter);
}

QString ScreenHeader::badgeText() const {
    return badge_->isVisibleTo(this) ? badge_->text() : "";
}
QString ScreenHeader::title() const {
    return title_->text();
}
QString ScreenHeader::subtitle() const {
    return subtitle_->text();
}

FooterLine::FooterLine(QWidget* parent)
    : QWidget(parent),
      label_(new ToneLabel(ToneLabel::Tone::secondary, AppInfo::footerLine(), this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    QFont small = label_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    label_->setFont(small);
    label_->setWordWrap(false);
    layout->addWidget(label_);
    layout->addStretch(1);
}

QString FooterLine::text() const {
    return label_->text();
}

} // namespace pelwick
