#pragma once

#include <QWidget>

class QHBoxLayout;
class QPushButton;
class QScrollArea;

namespace pelwick {

class FlasherStore;

/// One of the window's four screens. It keeps no state of its own: `refresh` re-reads the store.
class Screen : public QWidget {
public:
    Screen(FlasherStore& store, QWidget* parent);

    virtual void refresh() = 0;
    /// The button the Return key presses on this screen, if any.
    virtual QPushButton* returnButton() const = 0;

protected:
    /// A vertical scroll area without frame whose content follows the viewport's width.
    static QScrollArea* scrollAreaFor(QWidget* content, QWidget* parent);
    /// The page layout of a screen: header, separator, scrolling content, button row, footer.
    void layOutPage(QWidget* header, QWidget* content, QHBoxLayout* buttons);

    FlasherStore& store_;
};

} // namespace pelwick
