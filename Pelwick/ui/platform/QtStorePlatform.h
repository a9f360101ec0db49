#pragma once

#include "store/Platform.h"

#include <QString>

#include <filesystem>
#include <memory>
#include <optional>

namespace pelwick {

class FlasherStore;
class QtDialogs;

/// The store's platform made of the Qt implementations; `dialogs` is kept typed so the window
/// can tell the open dialog where to start.
struct QtStorePlatform {
    StorePlatform platform;
    std::shared_ptr<QtDialogs> dialogs;

    /// Main queue, worker pool, QSettings ("Quorvane"/"Pelwick", or `iniFile` when given), file
    /// dialogs and quitting; the real cable and the default simulator.
    static QtStorePlatform make(const QString& iniFile = {});

    /// While `store` runs the simulator, open dialogs start in the demo image's folder, so a
    /// first DEMO can be finished without a file of one's own.
    void startOpenDialogsInDemoFolder(const std::shared_ptr<FlasherStore>& store);
};

/// The folder with the demo image: "demo-firmware" beside the executable (build tree), else
/// "../share/pelwick/demo-firmware" relative to it (installed); none when neither exists.
std::optional<std::filesystem::path> demoFirmwareFolder();

} // namespace pelwick
