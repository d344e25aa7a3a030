#include "commands.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
const char kUsage[] =
    "usage: qarnctl COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  check [--app-dir DIR] FILE.ift     print the values a download would use\n"
    "  pack --key-a HEX --key-b HEX IN OUT write the protected form of a description\n"
    "  flash [--app-dir DIR] [--port N] FILE.ift\n"
    "                                      download the firmware of a description\n"
    "\n"
    "Run 'qarnctl COMMAND --help' for the options of one command.\n";
}

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty() || args.first() == "--help" || args.first() == "-h") {
        std::fputs(kUsage, args.isEmpty() ? stderr : stdout);
        return args.isEmpty() ? 2 : 0;
    }
    const QString command = args.takeFirst();
    if (command == "check")
        return runCheck(args);
    if (command == "pack")
        return runPack(args);
    if (command == "flash")
        return runFlash(args);
    std::fprintf(stderr, "qarnctl: unknown command '%s'\n\n%s", qPrintable(command), kUsage);
    return 2;
}
