#pragma once

#include "ui/drawings/IllustrationWidget.h"

namespace pelwick {

/// The programming cable: battery bay with two coin cells, the keyed pogo plug above its
/// connector, the cord past the RESET/ERASE switch box to the USB plug and the computer, with a
/// miniature of the wizard's first step as an inset.
class CableIllustration : public IllustrationWidget {
public:
    static const char* const caption;
    static const char* const description;

    explicit CableIllustration(QWidget* parent = nullptr);

protected:
    void paintDesign(QPainter& painter) override;
};

} // namespace pelwick
