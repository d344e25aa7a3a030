// A tool that does nothing but its last step: the result write-back and return to the host, in
// the application folder given on the command line. The kill test starts it, waits for its
// "ready" byte on standard output and kills it at a random moment of the write-back.
//   qarn-handoff-child APP_DIR RESULT
// Exit status 0 when the process ended through the write-back, 4 when it ended after telling
// the user about a failure, 3 when the write-back returned.

#include "return_to_host.h"
#include "shared_state.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace {

class ExitingHostReturn : public HostReturnUi {
public:
    void showMessage(const QString &text) override {
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        m_told = true;
    }
    void closeAllWindows() override {}
    void endProcess() override { ::_exit(m_told ? 4 : 0); }
    // The host itself is not started: only the hand-off file matters here.
    bool startHost(const QString &, const QStringList &, const QString &) override { return true; }

private:
    bool m_told = false;
};

} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: qarn-handoff-child APP_DIR RESULT\n");
        return 2;
    }
    gAppDir = QString::fromLocal8Bit(argv[1]);
    gLangBase = 100;
    ExitingHostReturn ui;
    [[maybe_unused]] const ssize_t n = ::write(STDOUT_FILENO, "R", 1);
    ReturnToHost(QString::fromLocal8Bit(argv[2]), ui);
    return 3;
}
