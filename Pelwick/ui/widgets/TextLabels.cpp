#include "ui/widgets/TextLabels.h"

namespace pelwick::TextLabels {

ToneLabel* paragraph(const QString& text, QWidget* parent) {
    auto* label = new ToneLabel(ToneLabel::Tone::primary, text, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

ToneLabel* secondary(const QString& text, QWidget* parent) {
    auto* label = new ToneLabel(ToneLabel::Tone::secondary, text, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return label;
}

ToneLabel* heading(const QString& text, QWidget* parent) {
    auto* label = new ToneLabel(ToneLabel::Tone::primary, text, parent);
    QFont font = label->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.08);
    label->setFont(font);
    return label;
}

ToneLabel* help(QWidget* parent) {
    // Selectable by mouse only: a text the keyboard could select would be a stop for Tab.
    auto* label = new ToneLabel(ToneLabel::Tone::caution, {}, parent);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    label->setCursor(Qt::IBeamCursor);
    return label;
}

QString of(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace pelwick::TextLabels
