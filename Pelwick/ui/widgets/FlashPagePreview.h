#pragma once

#include <QWidget>

#include <string>
#include <vector>

class QLabel;

namespace pelwick {

/// The page last written: its header line and its words in a fixed-width font. Accessible as
/// "Flash page data. " followed by the header.
class FlashPagePreview : public QWidget {
public:
    explicit FlashPagePreview(QWidget* parent = nullptr);

    void show(const std::string& header, const std::vector<std::string>& lines);

    QString header() const;
    QString lines() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* header_;
    QLabel* lines_;
};

} // namespace pelwick
