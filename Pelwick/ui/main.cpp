#include "store/FlasherStore.h"
#include "ui/MainWindow.h"
#include "ui/platform/QtStorePlatform.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Pelwick");
    QApplication::setOrganizationName("Quorvane");
    QApplication::setApplicationDisplayName("Pelwick");
    QApplication::setStyle(QStyleFactory::create("Fusion"));

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
