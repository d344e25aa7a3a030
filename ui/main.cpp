#include "frmQARN_UI.h"
#include "shared_state.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    gAppDir = QCoreApplication::applicationDirPath();
    frmQARN_UI window;
    window.show();
    return app.exec();
}
