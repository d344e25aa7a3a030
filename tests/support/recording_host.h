#pragma once
// The window system's side of the return to the host, recorded: what was asked of it, and what
// torvane.cha held when the host was started.

#include "return_to_host.h"

#include <QFile>

class RecordingHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &text) override { events << "message: " + text; }
    void closeAllWindows() override { events << "close"; }
    void endProcess() override { events << "end"; }
    bool startHost(const QString &program, const QStringList &arguments,
                   const QString &folder) override {
        QFile cha(folder + "/torvane.cha");
        events << "start " + program + " " + arguments.join(' ') + " in " + folder + ": " +
                      (cha.open(QIODevice::ReadOnly) ? cha.readAll() : "(none)");
        return starts;
    }
    QStringList events;
    bool starts = true;
};
