#include "ui/widgets/SegmentedPicker.h"

#include "ui/Theme.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QPushButton>

namespace pelwick {

SegmentedPicker::SegmentedPicker(const QStringList& titles, QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* group = new QButtonGroup(this);
    group->setExclusive(true);
    for (int i = 0; i < titles.size(); ++i) {
        auto* segment = new QPushButton(titles[i], this);
        segment->setCheckable(true);
        segment->setCursor(Qt::PointingHandCursor);
        segment->setFocusPolicy(Qt::TabFocus);
        segment->setObjectName(i == 0 ? "first" : i == titles.size() - 1 ? "last" : "middle");
        group->addButton(segment, i);
        layout->addWidget(segment);
        segments_.push_back(segment);
        connect(segment, &QPushButton::clicked, this, [this, i] {
            if (onPick_) {
                onPick_(i);
            }
        });
    }
    layout->addStretch(1);
    applyStyle();
}

void SegmentedPicker::setSelected(int index) {
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        segments_[i]->setChecked(int(i) == index);
    }
}

int SegmentedPicker::selected() const {
    for (std::size_t i = 0; i < segments_.size(); ++i) {
        if (segments_[i]->isChecked()) {
            return int(i);
        }
    }
    return -1;
}

void SegmentedPicker::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyStyle();
    }
}

void SegmentedPicker::applyStyle() {
    if (styling_) {
        return;
    }
    styling_ = true;
    const QPalette pal = parentWidget() ? parentWidget()->palette() : palette();
    const QString sheet =
        QString("QPushButton { border: 1px solid %1; background: %2; color: %3; padding: 6px 16px;"
                " margin: 0px; }"
                "QPushButton:checked { background: %4; border-color: %4; color: #ffffff; }"
                "QPushButton:checked:focus { border-color: %7; }"
                "QPushButton:hover:!checked { background: %5; }"
                "QPushButton:focus { outline: none; border: 2px solid %6; padding: 5px 15px; }"
                "QPushButton#first { border-top-left-radius: 7px; border-bottom-left-radius: 7px; }"
                "QPushButton#last { border-top-right-radius: 7px; border-bottom-right-radius: 7px;"
                " border-left: none; }"
                "QPushButton#middle { border-left: none; }")
            .arg(Theme::tint(pal, pal.color(QPalette::WindowText), 0.28).name(),
                 pal.color(QPalette::Base).name(), pal.color(QPalette::WindowText).name(),
                 Theme::accentFill(pal).name(), Theme::tint(pal, Theme::accent(pal), 0.12).name(),
                 Theme::focusRing(pal).name(), pal.color(QPalette::WindowText).name());
    setStyleSheet(sheet);
    styling_ = false;
}

} // namespace pelwick
