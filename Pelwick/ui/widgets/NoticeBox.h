#pragma once

#include <QWidget>

class QLabel;

namespace pelwick {

class ToneIcon;

/// A message box: an icon, a short label and a message, in a neutral, caution, success or
/// danger tone, with an optional note below (what to do next, or a remark). The message can be
/// selected with the mouse. Its accessible name is "<label>. <message>"; the description names
/// the tone and carries the note.
class NoticeBox : public QWidget {
public:
    enum class Tone { neutral, caution, success, danger };

    NoticeBox(Tone tone, const QString& label, const QString& message, QWidget* parent = nullptr);

    void setContent(Tone tone, const QString& label, const QString& message,
                    const QString& note = {});
    Tone tone() const { return tone_; }
    QString label() const;
    QString message() const;
    /// Empty when there is none.
    QString note() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    QColor toneColor() const;
    QString toneName() const;

    Tone tone_;
    ToneIcon* icon_;
    QLabel* label_;
    QLabel* message_;
    QLabel* note_;
};

} // namespace pelwick
