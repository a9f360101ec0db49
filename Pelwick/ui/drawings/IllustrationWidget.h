#pragma once

#include <QSizeF>
#include <QWidget>

class QPainter;

namespace pelwick {

/// A drawing made at a fixed design size and scaled down to fit narrower widths, never up. For
/// screen readers it is a graphic with a short name and a description of what it shows.
class IllustrationWidget : public QWidget {
public:
    IllustrationWidget(QSizeF designSize, const QString& name, const QString& description,
                       QWidget* parent);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    /// Paints in design coordinates (0,0)–designSize.
    virtual void paintDesign(QPainter& painter) = 0;

private:
    QSizeF designSize_;
};

} // namespace pelwick
