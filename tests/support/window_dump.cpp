// What the user sees, for end-to-end tests. Preloaded into the real executable (LD_PRELOAD) with
// QARN_DUMP_WINDOWS naming a file, this library installs itself with the application object, so
// the product carries no hook for it: every window shown appends its title and the texts of its
// labels to the file (UTF-8, "  objectName: text" lines, line breaks written as \n).

#include <QApplication>
#include <QFile>
#include <QLabel>

namespace {

class WindowDump : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override {
        const auto *window = qobject_cast<QWidget *>(watched);
        if (event->type() != QEvent::Show || !window || !window->isWindow())
            return false;
        QFile file(qEnvironmentVariable("QARN_DUMP_WINDOWS"));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
            return false;
        QString text = "window: " + window->windowTitle() + u'\n';
        for (const QLabel *label : window->findChildren<QLabel *>()) {
            if (!label->objectName().isEmpty() && !label->text().isEmpty())
                text += "  " + label->objectName() + ": " +
                        QString(label->text()).replace("\r\n", "\\n").replace(u'\n', "\\n") + u'\n';
        }
        file.write(text.toUtf8());
        return false;
    }
};

// The library is preloaded into every process the tool starts too, the stand-in host among
// them, whose application object has no windows: it is left alone.
void installWindowDump() {
    auto *application = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (application && !qEnvironmentVariableIsEmpty("QARN_DUMP_WINDOWS"))
        application->installEventFilter(new WindowDump(application));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(installWindowDump)
