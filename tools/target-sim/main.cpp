// qarn-target-sim: a simulated H8/H8SX target in boot mode on a pseudo-terminal.

#include "pty_target.h"
#include "sim_options.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {
int gRequestPipe[2] = {-1, -1};

void onSignal(int signal) {
    const char byte = signal == SIGUSR1 ? targetsim::kResetRequest : targetsim::kStopRequest;
    [[maybe_unused]] const ssize_t n = ::write(gRequestPipe[1], &byte, 1);
}
} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(QARN_VERSION));
    QString error;
    const auto options = targetsim::parseSimOptions(app.arguments().mid(1), error);
    if (!options) {
        std::fprintf(stderr, "qarn-target-sim: %s\nRun 'qarn-target-sim --help' for its options.\n",
                     qPrintable(error));
        return 2;
    }
    if (options->help) {
        std::fputs(qPrintable(targetsim::usageText()), stdout);
        return 0;
    }
    if (options->version) {
        std::printf("qarn-target-sim %s\n", QARN_VERSION);
        return 0;
    }

    if (::pipe(gRequestPipe) != 0)
        return 1;
    ::fcntl(gRequestPipe[0], F_SETFL, O_NONBLOCK);
    ::fcntl(gRequestPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGUSR1, &action, nullptr); // the device's reset
    ::signal(SIGPIPE, SIG_IGN);

    targetsim::PtyTarget target(*options);
    error = target.start();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "qarn-target-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("ready %s\n", qPrintable(target.slavePath()));
    std::fflush(stdout);
    return target.run(gRequestPipe[0]);
}
