// What the user sees, for end-to-end tests: preloaded into the real executable (LD_PRELOAD) with
// QARN_DUMP_WINDOWS naming a file, this library installs itself with the application object,
// so the product carries no hook for it. Every window shown appends its title and the texts of
// its labels and buttons to the file (UTF-8, one "objectName: text" line each, line breaks
// written as \n).

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>

namespace {

QString oneLine(QString text) {
    return text.replace(QStringLiteral("\r\n"), QStringLiteral("\\n")).replace(u'\n', "\\n");
}

class WindowDump : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override {
        const auto *window = qobject_cast<QWidget *>(watched);
        if (event->type() != QEvent::Show || !window || !window->isWindow())
            return false;
        QString text = "window: " + oneLine(window->windowTitle()) + u'\n';
        for (const QWidget *child : window->findChildren<QWidget *>()) {
            const auto *label = qobject_cast<const QLabel *>(child);
            const auto *button = qobject_cast<const QAbstractButton *>(child);
            const QString value = label ? label->text() : button ? button->text() : QString();
            if (!child->objectName().isEmpty() && !value.isEmpty())
                text += "  " + child->objectName() + ": " + oneLine(value) + u'\n';
        }
        QFile file(qEnvironmentVariable("QARN_DUMP_WINDOWS"));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append))
            file.write(text.toUtf8());
        return false;
    }
};

void installWindowDump() {
    if (!qEnvironmentVariableIsEmpty("QARN_DUMP_WINDOWS"))
        qApp->installEventFilter(new WindowDump(qApp));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installWindowDump)
