// qarn-bench-window APPDIR VERSION [IDLE_MS]: one download through the main window as 'qarn' runs
// it when the host starts it, on the offscreen platform unless QT_QPA_PLATFORM says otherwise:
// start-up reads APPDIR's files and opens the window, then the connection instructions are
// dismissed, VERSION is clicked in the firmware tree and, after IDLE_MS (0) of an idle window,
// Start is pressed. The run is the window's own, with its QApplication, refresh timer and
// port. Prints the window's checksum text or the error number; exit 0 when the download succeeded.

#include "app_windows.h"
#include "frmQARN_UI.h"
#include "qarn_main.h"
#include "shared_state.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstdio>

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int idleMs = argc == 4 ? QString::fromLocal8Bit(argv[3]).toInt() : 0;
    if (argc != 3 && argc != 4) {
        std::fputs("usage: qarn-bench-window APPDIR VERSION [IDLE_MS]\n", stderr);
        return 2;
    }
    gAppDir = QDir(QString::fromLocal8Bit(argv[1])).absolutePath();
    AppStartupWindows windows;
    Main(windows);
    frmQARN_UI *window = nullptr;
    for (QWidget *widget : QApplication::topLevelWidgets())
        window = window ? window : qobject_cast<frmQARN_UI *>(widget);
    if (!window) {
        std::fprintf(stderr, "qarn-bench-window: no main window, error %d\n", int(gErrNo));
        return 1;
    }
    const QString version = QString::fromLocal8Bit(argv[2]);
    bool chosen = false;
    QTimer::singleShot(0, window, [&] {
        window->cmdSetupOK_Click();
        const auto items = window->findChild<QTreeWidget *>("treFirmList")
                               ->findItems(version, Qt::MatchExactly | Qt::MatchRecursive);
        if (items.isEmpty()) {
            std::fprintf(stderr, "qarn-bench-window: no version %s\n", qPrintable(version));
            QCoreApplication::exit(1);
            return;
        }
        window->treFirmList_NodeClick(items.first());
        chosen = true;
    });
    QTimer::singleShot(idleMs, window, [&] {
        if (!chosen)
            return;
        window->findChild<QPushButton *>("cmdStart")->click(); // returns when the run has ended
        const bool ok = gDownloadState == 5;
        const QString said = window->findChild<QLabel *>("lblCheckSum")->text().simplified();
        std::printf("%s\n", qPrintable(ok ? said : QStringLiteral("E%1").arg(gErrNo)));
        QCoreApplication::exit(ok ? 0 : 1);
    });
    return app.exec();
}
