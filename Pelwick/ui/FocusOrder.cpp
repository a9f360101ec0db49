#include "ui/FocusOrder.h"

#include <QLayout>
#include <QScrollArea>
#include <QWidget>

#include <vector>

namespace pelwick::FocusOrder {

namespace {

void collect(QLayout* layout, std::vector<QWidget*>& order);

void collect(QWidget* widget, std::vector<QWidget*>& order) {
    if (auto* area = qobject_cast<QScrollArea*>(widget)) {
        if (area->widget()) {
            collect(area->widget(), order);
        }
        return;
    }
    if (widget->focusPolicy() & Qt::TabFocus) {
        order.push_back(widget);
    }
    if (widget->layout()) {
        collect(widget->layout(), order);
    }
}

void collect(QLayout* layout, std::vector<QWidget*>& order) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (QWidget* widget = item->widget()) {
            collect(widget, order);
        } else if (QLayout* inner = item->layout()) {
            collect(inner, order);
        }
    }
}

} // namespace

void followLayout(QWidget* root) {
    std::vector<QWidget*> order;
    if (root->layout()) {
        collect(root->layout(), order);
    }
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
}

} // namespace pelwick::FocusOrder
