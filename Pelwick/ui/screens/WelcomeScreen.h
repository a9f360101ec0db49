#pragma once

#include "store/FlasherMode.h"
#include "ui/screens/Screen.h"

#include <map>

namespace pelwick {

class ActionButton;
class ModeCard;
class ScreenHeader;

/// The mode choice: four mode cards, the disclaimer and Continue.
class WelcomeScreen : public Screen {
public:
    static const char* const disclaimer;

    WelcomeScreen(FlasherStore& store, QWidget* parent = nullptr);

    void refresh() override;
    QPushButton* returnButton() const override;

    ModeCard* card(FlasherMode mode) const { return cards_.at(mode); }

private:
    ScreenHeader* header_;
    std::map<FlasherMode, ModeCard*> cards_;
    ActionButton* continue_;
};

} // namespace pelwick
