#pragma once

#include <QWidget>

class QLabel;

namespace pelwick {

class ToneIcon;

/// A message box: an icon, a short label and a message, in a neutral, caution or success tone.
/// Its accessible name is "<label>. <message>".
class NoticeBox : public QWidget {
public:
    enum class Tone { neutral, caution, success };

    NoticeBox(Tone tone, const QString& label, const QString& message, QWidget* parent = nullptr);

    void setContent(Tone tone, const QString& label, const QString& message);
    Tone tone() const { return tone_; }
    QString label() const;
    QString message() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor toneColor() const;

    Tone tone_;
    ToneIcon* icon_;
    QLabel* label_;
    QLabel* message_;
};

} // namespace pelwick
