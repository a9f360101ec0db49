#include "store/FlasherStore.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"
#include "ui/platform/ColorSchemeFollower.h"
#include "ui/platform/QtStorePlatform.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    pelwick::prepareApplication();
    pelwick::ColorSchemeFollower colorScheme;

    pelwick::QtStorePlatform qt = pelwick::QtStorePlatform::make();
    auto store = pelwick::FlasherStore::create(qt.platform);
    qt.startOpenDialogsInDemoFolder(store);

    int status = 0;
    {
        pelwick::MainWindow window(store, [app = qt.platform.app] { app->quit(); });
        window.show();
        status = QApplication::exec();
    }
    return status;
}
