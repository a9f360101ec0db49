#pragma once

#include <QWidget>

class QLabel;
class QHBoxLayout;

namespace pelwick {

class Badge;

/// The top of a screen: an optional mode badge, the title and a subtitle, with room on the right
/// for one more widget (the wizard's connection line).
class ScreenHeader : public QWidget {
public:
    explicit ScreenHeader(QWidget* parent = nullptr);

    /// An empty badge text hides the badge.
    void show(const QString& badge, const QString& title, const QString& subtitle);
    void setTrailing(QWidget* widget);

    QString badgeText() const;
    QString title() const;
    QString subtitle() const;
    Badge* badge() const { return badge_; }

private:
    Badge* badge_;
    QLabel* title_;
    QLabel* subtitle_;
    QHBoxLayout* row_;
};

/// The line at the foot of every screen: version label, maker and promises.
class FooterLine : public QWidget {
public:
    explicit FooterLine(QWidget* parent = nullptr);
    QString text() const;

private:
    QLabel* label_;
};

} // namespace pelwick
