#include "ui/widgets/LabelledProgress.h"

#include "ui/Accessibility.h"
#include "ui/Theme.h"
#include "ui/widgets/ToneLabel.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace pelwick {

namespace {
constexpr int barSteps = 1000;
}

LabelledProgress::LabelledProgress(QWidget* parent)
    : QWidget(parent), caption_(new QLabel(this)),
      percent_(new ToneLabel(ToneLabel::Tone::secondary, {}, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    auto* top = new QHBoxLayout;
    QFont bold = caption_->font();
    bold.setBold(true);
    caption_->setFont(bold);
    caption_->setTextFormat(Qt::PlainText);
    percent_->setWordWrap(false);
    percent_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    top->addWidget(caption_, 1);
    top->addWidget(percent_);
    layout->addLayout(top);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    Accessibility::describe(this, QAccessible::StaticText, {},
                            "Progress of the operation that is running");
}

void LabelledProgress::show(double fraction, const QString& caption, Tint tint, int barID) {
    if (barID != barID_ || !bar_) {
        // A fresh bar for every identity: the old one disappears with its value.
        if (bar_) {
            bar_->hide();
            bar_->deleteLater();
        }
        bar_ = new QProgressBar(this);
        bar_->setRange(0, barSteps);
        bar_->setTextVisible(false);
        bar_->setFixedHeight(8);
        layout()->addWidget(bar_);
        barID_ = barID;
        tint_ = tint;
        applyTint();
    }
    if (tint != tint_) {
        tint_ = tint;
        applyTint();
    }
    const double clamped = std::clamp(std::isfinite(fraction) ? fraction : 0.0, 0.0, 1.0);
    bar_->setValue(int(std::lround(clamped * barSteps)));
    bar_->setAccessibleName(caption);
    caption_->setText(caption);
    percent_->setText(QString::number(int(std::floor(clamped * 100))) + " %");
    setAccessibleName(caption);
}

QString LabelledProgress::caption() const {
    return caption_->text();
}

void LabelledProgress::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyTint();
    }
}

void LabelledProgress::applyTint() {
    if (!bar_ || applying_) {
        return;
    }
    applying_ = true;
    const QPalette base = palette();
    QColor color = Theme::accent(base);
    if (tint_ == Tint::flashing) {
        color = Theme::flashing(base);
    } else if (tint_ == Tint::verifying) {
        color = Theme::success(base);
    }
    QPalette own = bar_->palette();
    own.setColor(QPalette::Highlight, color);
    own.setColor(QPalette::Base, Theme::tint(base, base.color(QPalette::WindowText), 0.1));
    bar_->setPalette(own);
    applying_ = false;
}

} // namespace pelwick
