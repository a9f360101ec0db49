#include "ui/widgets/StepRow.h"

#include "ui/Accessibility.h"
#include "ui/Theme.h"
#include "ui/widgets/ElidedLabel.h"

#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

namespace pelwick {

namespace {
constexpr int markerColumn = 44;
constexpr double markerRadius = 12;
constexpr int rowTop = 9;
} // namespace

StepRow::StepRow(WizardStep step, QWidget* parent)
    : QWidget(parent), step_(step), title_(new QLabel(this)),
      detail_(new ElidedLabel(ToneLabel::Tone::secondary, {}, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(markerColumn, rowTop + 2, 10, 12);
    layout->setSpacing(2);
    title_->setText(QString::fromStdString(wizardStepTitle(step)));
    title_->setTextFormat(Qt::PlainText);
    QFont small = detail_->font();
    small.setPointSizeF(small.pointSizeF() * 0.88);
    detail_->setFont(small);
    layout->addWidget(title_);
    layout->addWidget(detail_);
    detail_->hide();
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Minimum);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    Accessibility::describe(this, QAccessible::ListItem, {}, {});
    show(State::upcoming, std::nullopt);
}

void StepRow::show(State state, const std::optional<std::string>& detail) {
    state_ = state;
    const QString title = QString::fromStdString(wizardStepTitle(step_));
    const char* suffix = state == State::complete  ? ", completed"
                         : state == State::current ? ", current"
                                                   : ", not started";
    setAccessibleName(title + suffix);
    setAccessibleDescription(
        QString("Step %1 of %2").arg(wizardStepNumber(step_)).arg(wizardStepCount) +
        (detail && state == State::complete ? ". " + QString::fromStdString(*detail) : QString()));
    QFont font = title_->font();
    font.setBold(state == State::current);
    title_->setFont(font);
    QPalette pal = title_->palette();
    const QPalette base = palette();
    pal.setColor(QPalette::WindowText, state == State::upcoming ? Theme::secondaryText(base)
                                                                : base.color(QPalette::WindowText));
    title_->setPalette(pal);
    const bool showDetail = state == State::complete && detail && !detail->empty();
    detail_->setText(showDetail ? QString::fromStdString(*detail) : QString());
    detail_->setVisible(showDetail);
    update();
}

QString StepRow::detail() const {
    return detail_->isVisibleTo(this) ? detail_->text() : "";
}

void StepRow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette pal = palette();
    const QColor done = Theme::success(pal);

    if (state_ == State::current) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::selectedFill(pal));
        painter.drawRoundedRect(QRectF(rect()).adjusted(2, 2, -2, -2), 8, 8);
    }

    const QPointF centre(markerColumn / 2.0, rowTop + markerRadius);
    const bool first = step_ == WizardStep::cable;
    const bool last = step_ == WizardStep::checksum;
    // Connectors: above the marker coloured as the step before (complete whenever this one is
    // reached), below it as this step.
    if (!first) {
        painter.setPen(QPen(state_ == State::upcoming ? Theme::separator(pal) : done, 2));
        painter.drawLine(QPointF(centre.x(), 0),
                         QPointF(centre.x(), centre.y() - markerRadius - 2));
    }
    if (!last) {
        painter.setPen(QPen(state_ == State::complete ? done : Theme::separator(pal), 2));
        painter.drawLine(QPointF(centre.x(), centre.y() + markerRadius + 2),
                         QPointF(centre.x(), height()));
    }

    switch (state_) {
    case State::complete:
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::isDark(pal) ? done.darker(135) : done); // white check stays legible
        painter.drawEllipse(centre, markerRadius, markerRadius);
        painter.setPen(QPen(QColor("#ffffff"), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(QPolygonF(
            {centre + QPointF(-5.5, 0.5), centre + QPointF(-1.5, 4.5), centre + QPointF(5.5, -4)}));
        return;
    case State::current:
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::accentFill(pal));
        painter.drawEllipse(centre, markerRadius, markerRadius);
        painter.setPen(QColor("#ffffff"));
        break;
    case State::upcoming:
        painter.setPen(QPen(Theme::tint(pal, pal.color(QPalette::WindowText), 0.35), 1.4));
        painter.setBrush(pal.color(QPalette::Base));
        painter.drawEllipse(centre, markerRadius, markerRadius);
        painter.setPen(Theme::secondaryText(pal));
        break;
    }
    QFont font = painter.font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 0.92);
    painter.setFont(font);
    painter.drawText(QRectF(centre.x() - markerRadius, centre.y() - markerRadius, markerRadius * 2,
                            markerRadius * 2),
                     Qt::AlignCenter, QString::number(wizardStepNumber(step_)));
}

StepList::StepList(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 14, 10, 14);
    layout->setSpacing(0);
    for (WizardStep step : allWizardSteps()) {
        auto* row = new StepRow(step, this);
        rows_.push_back(row);
        layout->addWidget(row);
    }
    layout->addStretch(1);
    Accessibility::describe(this, QAccessible::List, "Steps",
                            "The seven steps of the wizard, with what each finished step did");
}

void StepList::show(const WizardState& state,
                    const std::function<std::optional<std::string>(WizardStep)>& detail) {
    for (StepRow* row : rows_) {
        const WizardStep step = row->step();
        const StepRow::State rowState = state.isComplete(step)   ? StepRow::State::complete
                                        : state.isUpcoming(step) ? StepRow::State::upcoming
                                                                 : StepRow::State::current;
        row->show(rowState, rowState == StepRow::State::complete ? detail(step) : std::nullopt);
        // Layouts size a window without asking for heights that follow widths, so each row
        // asks for the height its lines take at the list's width; a small window then never
        // squeezes a detail line away.
        const QMargins margins = layout()->contentsMargins();
        const int height = row->heightForWidth(maximumWidth() - margins.left() - margins.right());
        row->setMinimumHeight(std::max(height, 0)); // none without a detail line
    }
}

void StepList::setFooter(QWidget* footer) {
    footer->setParent(this);
    layout()->addWidget(footer);
    static_cast<QVBoxLayout*>(layout())->setAlignment(footer, Qt::AlignLeft);
}

StepRow* StepList::row(WizardStep step) const {
    return rows_.at(std::size_t(step));
}

void StepList::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette pal = palette();
    painter.fillRect(rect(), Theme::cardBackground(pal));
    painter.setPen(QPen(Theme::separator(pal), 1));
    painter.drawLine(rect().topRight(), rect().bottomRight());
}

} // namespace pelwick
