#pragma once

#include <QFrame>

#include <optional>
#include <string>

class QLabel;

namespace pelwick {

/// Three selectable lines in a fixed-width font: "Status  ", "Port    " and "SAM-BA  " followed
/// by their values; a missing port or version shows "—".
class ConnectionStatusBlock : public QFrame {
public:
    explicit ConnectionStatusBlock(QWidget* parent = nullptr);

    void show(const std::string& status, const std::optional<std::string>& port,
              const std::optional<std::string>& sambaVersion);

    /// The three lines as shown.
    static QString text(const std::string& status, const std::optional<std::string>& port,
                        const std::optional<std::string>& sambaVersion);
    QString text() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* lines_;
};

} // namespace pelwick
