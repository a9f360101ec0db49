#include "ui/screens/Screen.h"

#include <QScrollArea>

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

} // namespace pelwick
