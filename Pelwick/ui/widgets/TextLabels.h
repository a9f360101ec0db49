#pragma once

#include "ui/widgets/ToneLabel.h"

#include <string>

namespace pelwick {

/// The few kinds of text a screen body is made of.
namespace TextLabels {

/// A paragraph in the window's text colour, wrapped.
ToneLabel* paragraph(const QString& text, QWidget* parent);
/// A wrapped paragraph in the secondary text colour.
ToneLabel* secondary(const QString& text, QWidget* parent);
/// A bold heading for a section of a body.
ToneLabel* heading(const QString& text, QWidget* parent);
/// A line of help in the caution colour, selectable (how to get past an error).
ToneLabel* help(QWidget* parent);

QString of(const std::string& text);

} // namespace TextLabels

} // namespace pelwick
