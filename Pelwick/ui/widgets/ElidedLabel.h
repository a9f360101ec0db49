#pragma once

#include "ui/widgets/ToneLabel.h"

#include <QStringList>

namespace pelwick {

/// A text that wraps between words only. A single word too long for a line (a file name, a
/// path) is shortened in the middle with "…"; the full text is then the tooltip. `text()` and
/// the accessible name stay the full text.
class ElidedLabel : public ToneLabel {
public:
    explicit ElidedLabel(Tone tone, const QString& text = {}, QWidget* parent = nullptr);

    /// The lines as drawn at `width`, and whether any word was shortened.
    QStringList lines(int width, bool* elided = nullptr) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace pelwick
