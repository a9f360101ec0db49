#pragma once

#include "wizard/WizardState.h"

#include <QWidget>

#include <functional>

#include <optional>
#include <string>
#include <vector>

class QLabel;

namespace pelwick {

class ElidedLabel;

/// One step of the wizard's step list: a marker (check mark when complete, the number
/// otherwise), the title and, under a completed step, its detail line (names too long for the
/// row are shortened in the middle). Rows are joined by connector lines drawn through the marker
/// column.
class StepRow : public QWidget {
public:
    enum class State { complete, current, upcoming };

    StepRow(WizardStep step, QWidget* parent = nullptr);

    void show(State state, const std::optional<std::string>& detail);

    WizardStep step() const { return step_; }
    State state() const { return state_; }
    QString detail() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    WizardStep step_;
    State state_ = State::upcoming;
    QLabel* title_;
    ElidedLabel* detail_;
};

/// The seven rows of the wizard's step list, and room at its foot.
class StepList : public QWidget {
public:
    explicit StepList(QWidget* parent = nullptr);

    /// Marks the rows for a wizard at `state`; `detail` gives the line under a completed step.
    void show(const WizardState& state,
              const std::function<std::optional<std::string>(WizardStep)>& detail);

    StepRow* row(WizardStep step) const;
    /// A widget below the rows, at the foot of the list.
    void setFooter(QWidget* footer);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<StepRow*> rows_;
};

} // namespace pelwick
