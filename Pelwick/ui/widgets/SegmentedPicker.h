#pragma once

#include <QWidget>

#include <functional>
#include <vector>

class QPushButton;

namespace pelwick {

/// A row of joined, mutually exclusive segments; exactly one is selected.
class SegmentedPicker : public QWidget {
public:
    SegmentedPicker(const QStringList& titles, QWidget* parent = nullptr);

    void setSelected(int index);
    int selected() const;
    QPushButton* segment(int index) const { return segments_.at(std::size_t(index)); }
    /// Called with the segment the user picked.
    void onPick(std::function<void(int)> handler) { onPick_ = std::move(handler); }

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyStyle();

    std::vector<QPushButton*> segments_;
    std::function<void(int)> onPick_;
    bool styling_ = false;
};

} // namespace pelwick
