#pragma once

#include "ui/drawings/IllustrationWidget.h"

namespace pelwick {

/// The switch box three times: hold ERASE, press RESET, release ERASE.
class ProgrammingModeIllustration : public IllustrationWidget {
public:
    static const char* const description;

    explicit ProgrammingModeIllustration(QWidget* parent = nullptr);

protected:
    void paintDesign(QPainter& painter) override;
};

} // namespace pelwick
