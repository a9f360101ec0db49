#pragma once

#include "device/UsbIdentity.h"

#include <QFrame>

#include <optional>
#include <string>

class QLabel;

namespace pelwick {

class ToneLabel;

/// Three selectable lines in a fixed-width font: "Status  ", "Port    " and "SAM-BA  " followed
/// by their values; a missing port or version shows "—". When the port's USB device is known a
/// fourth line "USB     " names it (and says when it is the SAM-BA monitor); below the lines, a
/// line of help for a port that could not be opened.
class ConnectionStatusBlock : public QFrame {
public:
    explicit ConnectionStatusBlock(QWidget* parent = nullptr);

    void show(const std::string& status, const std::optional<std::string>& port,
              const std::optional<std::string>& sambaVersion,
              const std::optional<UsbIdentity>& usb = std::nullopt,
              const std::optional<std::string>& help = std::nullopt);

    /// The lines as shown.
    static QString text(const std::string& status, const std::optional<std::string>& port,
                        const std::optional<std::string>& sambaVersion,
                        const std::optional<UsbIdentity>& usb = std::nullopt);
    QString text() const;
    /// The help line (empty and hidden when there is none).
    ToneLabel* helpLine() const { return help_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* lines_;
    ToneLabel* help_;
};

} // namespace pelwick
