// The tool's last step alone: the result write-back and return to the host, in the application
// folder given on the command line; it writes "R" on standard output just before it begins.
//   qarn-handoff-child APP_DIR RESULT
// Exit status 0 when the write-back ended the process, 3 when it returned.

#include "return_to_host.h"
#include "shared_state.h"

#include <QCoreApplication>
#include <unistd.h>

class ExitingHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &) override {}
    void closeAllWindows() override {}
    void endProcess() override { ::_exit(0); }
    bool startHost(const QString &, const QStringList &, const QString &) override { return true; }
};

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    gAppDir = QString::fromLocal8Bit(argv[1]);
    ExitingHostReturn ui;
    [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, "R", 1);
    ReturnToHost(QString::fromLocal8Bit(argv[2]), ui);
    return 3;
}
