#include "ui/screens/Screen.h"

#include "ui/FocusOrder.h"
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
    // The area itself is no stop for Tab; the widgets in it are.
    area->setFocusPolicy(Qt::NoFocus);
    area->setWidget(content);
    area->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    return area;
}

QWidget* Screen::centred(QWidget* content, int maxWidth, int maxHeight) {
    auto* outer = new QWidget;
    auto* column = new QVBoxLayout(outer);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    auto* row = new QHBoxLayout;
    row->setSpacing(0);
    content->setMaximumSize(maxWidth, maxHeight);
    row->addStretch(1);
    row->addWidget(content, 100);
    row->addStretch(1);
    column->addStretch(1);
    column->addLayout(row, 100);
    column->addStretch(1);
    return outer;
}

void Screen::layOutPage(QWidget* header, QWidget* content, QHBoxLayout* buttons) {
    auto* page = new QWidget;
    auto* column = new QVBoxLayout(page);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(12);
    column->addWidget(header);
    column->addWidget(new Separator(page));
    column->addWidget(scrollAreaFor(content, page), 1);
    column->addLayout(buttons);
    column->addWidget(new FooterLine(page));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(32, 22, 32, 16);
    layout->addWidget(centred(page, readingWidth, pageHeight));
    FocusOrder::followLayout(this);
}

} // namespace pelwick
