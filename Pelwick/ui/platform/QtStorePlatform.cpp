#include "ui/platform/QtStorePlatform.h"

#include "store/FlasherStore.h"
#include "ui/platform/QtAppControl.h"
#include "store/ThreadBackgroundRunner.h"
#include "ui/platform/QtDialogs.h"
#include "ui/platform/QtMainQueue.h"
#include "ui/platform/QtSettingsStore.h"

#include <QCoreApplication>
#include <QDir>

namespace pelwick {

QtStorePlatform QtStorePlatform::make(const QString& iniFile) {
    QtStorePlatform made;
    made.dialogs = std::make_shared<QtDialogs>();
    made.platform.mainQueue = std::make_shared<QtMainQueue>();
    made.platform.background = std::make_shared<ThreadBackgroundRunner>();
    made.platform.settings = iniFile.isEmpty() ? std::make_shared<QtSettingsStore>()
                                               : std::make_shared<QtSettingsStore>(iniFile);
    made.platform.dialogs = made.dialogs;
    made.platform.app = std::make_shared<QtAppControl>();
    return made;
}

void QtStorePlatform::startOpenDialogsInDemoFolder(const std::shared_ptr<FlasherStore>& store) {
    std::weak_ptr<FlasherStore> weak = store;
    dialogs->setOpenFileStartFolder([weak]() -> std::optional<std::filesystem::path> {
        const auto current = weak.lock();
        if (current && current->usingSimulator()) {
            return demoFirmwareFolder();
        }
        return std::nullopt;
    });
}

std::optional<std::filesystem::path> demoFirmwareFolder() {
    const QDir programFolder(QCoreApplication::applicationDirPath());
    for (const QString& candidate :
         {QString("demo-firmware"), QString("../share/pelwick/demo-firmware")}) {
        const QString folder = QDir::cleanPath(programFolder.absoluteFilePath(candidate));
        if (QDir(folder).exists()) {
            return std::filesystem::path(folder.toStdString());
        }
    }
    return std::nullopt;
}

} // namespace pelwick
