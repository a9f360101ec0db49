#pragma once

#include "ui/drawings/IllustrationWidget.h"

namespace pelwick {

/// The six key steps that open the calculator's test menu and show the checksum.
class ChecksumIllustration : public IllustrationWidget {
public:
    static const char* const description;

    explicit ChecksumIllustration(QWidget* parent = nullptr);

protected:
    void paintDesign(QPainter& painter) override;
};

} // namespace pelwick
