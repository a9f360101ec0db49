#include "ui/screens/Screen.h"

#include "ui/widgets/ScreenHeader.h"
#include "ui/widgets/Separator.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

namespace pelwick {

Screen::Screen(FlasherStore& store, QWidget* parent) : QWidget(parent), store_(store) {}

QScrollArea* Screen::scrollAreaFor(QWidget* content, QWidget* parent) {
    auto* area = new QScrollArea(parent);
    area->setFrameShape(QFrame::NoFrame);
    area->setWidgetResizable(true);
    area->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    area->setWidget(content);
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return area;
}

void Screen::layOutPage(QWidget* header, QWidget* content, QHBoxLayout* buttons) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 28, 32, 20);
    layout->setSpacing(14);
    layout->addWidget(header);
    layout->addWidget(new Separator(this));
    layout->addWidget(scrollAreaFor(content, this), 1);
    layout->addLayout(buttons);
    layout->addWidget(new FooterLine(this));
}

} // namespace pelwick
