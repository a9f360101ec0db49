#pragma once

#include <QWidget>

class QHBoxLayout;
class QPushButton;
class QScrollArea;

namespace pelwick {

class FlasherStore;

/// One of the window's four screens. It keeps no state of the session: `refresh` re-reads the
/// store.
class Screen : public QWidget {
public:
    /// Widest column of text a screen shows; wider windows centre it.
    static constexpr int readingWidth = 760;
    /// Tallest page a screen shows; taller windows centre it, so its buttons stay near its
    /// content.
    static constexpr int pageHeight = 900;

    Screen(FlasherStore& store, QWidget* parent);

    virtual void refresh() = 0;
    /// The button Return presses when no button has the keyboard focus, if any.
    virtual QPushButton* returnButton() const = 0;
    /// The button Escape presses (the screen's way back), if any.
    virtual QPushButton* escapeButton() const { return nullptr; }

protected:
    /// A vertical scroll area without frame or focus whose content follows the viewport's width.
    static QScrollArea* scrollAreaFor(QWidget* content, QWidget* parent);
    /// `content` at most `maxWidth` wide (and `maxHeight` tall), centred in a widget of any size.
    static QWidget* centred(QWidget* content, int maxWidth, int maxHeight = QWIDGETSIZE_MAX);
    /// The page layout of a screen at reading width: header, separator, content (scrolling only
    /// when the window is too small for it), button row, footer. Tab follows this order.
    void layOutPage(QWidget* header, QWidget* content, QHBoxLayout* buttons);

    FlasherStore& store_;
};

} // namespace pelwick
