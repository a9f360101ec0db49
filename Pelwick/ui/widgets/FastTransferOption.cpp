#include "ui/widgets/FastTransferOption.h"

#include "store/FlasherStore.h"

namespace pelwick {

FastTransferOption::FastTransferOption(FlasherStore& store, QWidget* parent)
    // Two lines, so that it fits beside FLASH's button.
    : QCheckBox("Fast tr&ansfer — falls back to the standard pace\nif the calculator does not "
                "keep up",
                parent),
      store_(store) {
    setAccessibleName("Fast transfer");
    setAccessibleDescription("Flash without the pauses a slow serial line needs. If the "
                             "calculator does not keep up, the flash goes on at the standard "
                             "pace.");
    // Only the user's click changes the setting, not the refresh that shows it.
    connect(this, &QCheckBox::clicked, this,
            [this](bool checked) { store_.setFastTransfer(checked); });
}

void FastTransferOption::refresh() {
    setChecked(store_.fastTransfer());
    setEnabled(!store_.wizard().isBusy);
}

} // namespace pelwick
