#pragma once

#include <QCheckBox>

namespace pelwick {

class FlasherStore;

/// The store's fast-transfer setting as a check box: shows it, changes it when the user clicks,
/// and cannot be changed while an operation runs.
class FastTransferOption : public QCheckBox {
public:
    /// The note under a flash's success when fast transfer fell back to the standard pace.
    static constexpr const char* fellBackNote =
        "The calculator did not keep up with fast transfer; the rest of the flash went at the "
        "standard pace.";

    explicit FastTransferOption(FlasherStore& store, QWidget* parent = nullptr);

    void refresh();

protected:
    void changeEvent(QEvent* event) override;

private:
    /// Gives the box an outline that stands out from the window in either colour scheme.
    void outlineBox();

    FlasherStore& store_;
};

} // namespace pelwick
