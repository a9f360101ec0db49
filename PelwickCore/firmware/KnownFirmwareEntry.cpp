#include "firmware/KnownFirmwareEntry.h"

namespace pelwick {

std::string KnownFirmwareEntry::displayName() const {
    return model + " " + description;
}

} // namespace pelwick
