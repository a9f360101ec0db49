#pragma once

#include <QWidget>

namespace pelwick {

/// A small rounded pill with a short text ("DEMO", "Recommended", "2 done"). Its accessible name
/// is the text; `description` says what it stands for.
class Badge : public QWidget {
public:
    enum class Tone { accent, success, caution, danger, neutral };

    Badge(const QString& text, Tone tone, const QString& description, QWidget* parent = nullptr);

    void setText(const QString& text);
    const QString& text() const { return text_; }
    void setTone(Tone tone);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QFont badgeFont() const;

    QString text_;
    Tone tone_;
};

} // namespace pelwick
