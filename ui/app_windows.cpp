#include "app_windows.h"

#include "catalogue.h"
#include "frmError.h"
#include "frmQARN_UI.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
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

QString oneLine(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n"))
        .replace(u'\n', QStringLiteral("\\n"));
}

// The test hook described in the header.
void dumpWindow(const QWidget *window) {
    const QString path = qEnvironmentVariable("QARN_DUMP_WINDOWS");
    if (path.isEmpty())
        return;
    QString text = QStringLiteral("window: ") + oneLine(window->windowTitle()) + u'\n';
    for (const QWidget *child : window->findChildren<QWidget *>()) {
        QString value;
        if (const auto *label = qobject_cast<const QLabel *>(child))
            value = label->text();
        else if (const auto *button = qobject_cast<const QAbstractButton *>(child))
            value = button->text();
        else
            continue;
        if (!child->objectName().isEmpty() && !value.isEmpty())
            text += QStringLiteral("  ") + child->objectName() + QStringLiteral(": ") +
                    oneLine(value) + u'\n';
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(text.toUtf8());
}
} // namespace

void OpenToolWindow(QWidget *window) {
    window->setAttribute(Qt::WA_DeleteOnClose);
    openedWindows().append(window);
    window->show();
    dumpWindow(window);
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

void AppHostReturn::showMessage(const QString &text) {
    QMessageBox box(QMessageBox::NoIcon, Msg(102), QString(text).replace(u'\r', QString()),
                    QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    box.show();
    dumpWindow(&box);
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
