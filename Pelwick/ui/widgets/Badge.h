#pragma once

#include <QWidget>

namespace pelwick {

/// A small rounded pill with a short uppercase-style text ("DEMO", "Recommended").
class Badge : public QWidget {
public:
    enum class Tone { accent, success, caution, neutral };

    explicit Badge(const QString& text, Tone tone = Tone::accent, QWidget* parent = nullptr);

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
