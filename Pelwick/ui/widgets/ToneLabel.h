#pragma once

#include <QLabel>

namespace pelwick {

/// A wrapped label whose text colour follows a tone (secondary, error, …) derived from the
/// window's palette, kept right when the palette changes.
class ToneLabel : public QLabel {
public:
    enum class Tone { primary, secondary, danger, caution, success };

    explicit ToneLabel(Tone tone, const QString& text = {}, QWidget* parent = nullptr);

    void setTone(Tone tone);
    Tone tone() const { return tone_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTone();

    Tone tone_;
    bool applying_ = false;
};

} // namespace pelwick
