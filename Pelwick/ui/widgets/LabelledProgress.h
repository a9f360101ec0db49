#pragma once

#include <QWidget>

class QLabel;
class QProgressBar;

namespace pelwick {

/// A caption over a determinate bar (0…1). A new bar identity replaces the bar with a fresh one,
/// so a new phase starts empty instead of running backwards.
class LabelledProgress : public QWidget {
public:
    enum class Tint { accent, flashing, verifying };

    explicit LabelledProgress(QWidget* parent = nullptr);

    void show(double fraction, const QString& caption, Tint tint, int barID);

    QString caption() const;
    QProgressBar* bar() const { return bar_; }
    int barID() const { return barID_; }
    Tint tint() const { return tint_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTint();

    QLabel* caption_;
    QLabel* percent_;
    QProgressBar* bar_ = nullptr;
    int barID_ = -1;
    Tint tint_ = Tint::accent;
    bool applying_ = false;
};

} // namespace pelwick
