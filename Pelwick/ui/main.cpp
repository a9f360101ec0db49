#include "store/FlasherStore.h"
#include "ui/Application.h"
#include "ui/MainWindow.h"
#include "ui/platform/ColorSchemeFollower.h"
#include "ui/platform/QtStorePlatform.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>

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
    // The window has stopped the store and closed the connection. A connection attempt still
    // waiting for a silent port would hold the exit for seconds, and one that the user chose to
    // abandon must not be waited for either: nothing of ours is left to save, so end here
    // instead of joining the device threads.
    std::fflush(nullptr);
    std::quick_exit(status);
}
