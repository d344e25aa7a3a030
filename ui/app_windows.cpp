#include "app_windows.h"

#include "catalogue.h"
#include "frmError.h"
#include "frmQARN_UI.h"
#include "shared_state.h"

#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <cstdio>
#include <cstdlib>

namespace {
QList<QPointer<QWidget>> &openedWindows() {
    static QList<QPointer<QWidget>> windows;
    return windows;
}
} // namespace

void OpenToolWindow(QWidget *window) {
    window->setAttribute(Qt::WA_DeleteOnClose);
    openedWindows().append(window);
    window->show();
}

void AppStartupWindows::showMainWindow() {
    const qsizetype before = openedWindows().size();
    auto *window = new frmQARN_UI; // its load step may already open the error window
    const QList<QPointer<QWidget>> openedByLoad = openedWindows().mid(before);
    OpenToolWindow(window);
    // A failure of the load step must stay in sight in front of the main window.
    for (const QPointer<QWidget> &other : openedByLoad) {
        if (other) {
            other->raise();
            other->activateWindow();
        }
    }
}

void AppStartupWindows::showErrorWindow() {
    ShowErrorWindow();
}

void ShowErrorWindow() {
    OpenToolWindow(new frmError(AppHostReturnUi()));
}

void CloseErrorWindows() {
    for (const QPointer<QWidget> &window : std::as_const(openedWindows())) {
        if (qobject_cast<frmError *>(window.data()))
            window->close();
    }
}

void ShowHistoryProblem(const QString &why) {
    const QString said =
        gLangBase == 0
            ? QStringLiteral("実行履歴を書き込めませんでした（ダウンロードには影響ありません）。")
            : QStringLiteral("The run history could not be written (the download "
                             "itself is not affected).");
    auto *box =
        new QMessageBox(QMessageBox::Warning, Msg(102), said + u'\n' + why, QMessageBox::Ok);
    box->setTextFormat(Qt::PlainText);
    box->setObjectName(QStringLiteral("historyProblem"));
    box->setWindowModality(Qt::NonModal); // the window stays usable while it is up
    OpenToolWindow(box);
}

void AppHostReturn::showMessage(const QString &text) {
    QMessageBox box(QMessageBox::NoIcon, Msg(102), QString(text).replace(u'\r', QString()),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void AppHostReturn::closeAllWindows() {
    QList<QPointer<QWidget>> &windows = openedWindows();
    while (!windows.isEmpty()) {
        const QPointer<QWidget> window = windows.takeLast();
        if (window)
            window->close();
    }
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible())
            widget->close();
    }
}

void AppHostReturn::endProcess() {
    // The hand-off is complete and the host is on its way: nothing is left to save, and the
    // caller must not go on as if the tool were still running.
    std::fflush(nullptr);
    std::_Exit(0);
}

HostReturnUi &AppHostReturnUi() {
    static AppHostReturn ui;
    return ui;
}
