#pragma once

#include <QAbstractButton>

class QLabel;

namespace pelwick {

class Badge;
class ToneLabel;

/// One session mode on the welcome screen: a card with a radio mark, the mode's title, an
/// optional badge and its detail text. Clicking anywhere on it selects it.
class ModeCard : public QAbstractButton {
public:
    ModeCard(const QString& title, const QString& detail, QWidget* parent = nullptr);

    /// An empty text hides the badge.
    void setBadge(const QString& text);
    QString badgeText() const;
    QString detail() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* title_;
    Badge* badge_;
    ToneLabel* detail_;
};

} // namespace pelwick
