#pragma once

#include "ui/drawings/IllustrationWidget.h"

namespace pelwick {

/// RESET on the switch box, then the calculator turned on showing "Pr Error".
class RestartIllustration : public IllustrationWidget {
public:
    static const char* const description;

    explicit RestartIllustration(QWidget* parent = nullptr);

protected:
    void paintDesign(QPainter& painter) override;
};

} // namespace pelwick
