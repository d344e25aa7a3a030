#include "app_windows.h"
#include "qarn_main.h"
#include "shared_state.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    gAppDir = QCoreApplication::applicationDirPath();
    AppStartupWindows windows;
    Main(windows);
    return app.exec();
}
