#include "cli.h"
#include "commands.h"
#include "run_output.h"

#include <QCoreApplication>
#include <cstdio>

namespace {
const char kCommands[] =
    "A command-line companion of the download tool.\n"
    "\n"
    "Commands:\n"
    "  check    print the values a download would use\n"
    "  pack     write the protected form of a description\n"
    "  flash    download the firmware of a description\n"
    "  verify   tell whether the target holds the firmware of a description, erasing nothing\n"
    "  doctor   find what stands between this computer and the chip, before a download\n"
    "\n"
    "Run 'qarnctl COMMAND --help' for the options of one command.";
}

static int run(const QCoreApplication &app) {
    QCoreApplication::setApplicationVersion(QStringLiteral(QARN_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kCommands));
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("check, pack, flash, verify or doctor"),
                                 QStringLiteral("COMMAND [OPTIONS]"));
    // Everything after the command's name belongs to the command.
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QString name = QStringLiteral("qarnctl");
    if (const auto status = parseCommandLine(parser, name, app.arguments().mid(1)))
        return *status;
    QStringList args = parser.positionalArguments();
    if (args.isEmpty()) {
        std::fputs(commandHelp(parser, name).toUtf8().constData(), stderr);
        return 2;
    }
    const QString command = args.takeFirst();
    if (command == u"check")
        return runCheck(args);
    if (command == u"pack")
        return runPack(args);
    if (command == u"flash")
        return runFlash(args);
    if (command == u"verify")
        return runVerify(args);
    if (command == u"doctor")
        return runDoctor(args);
    return usageError(name, QStringLiteral("unknown command '%1'").arg(command));
}

int main(int argc, char *argv[]) {
    PrepareStandardStreams();
    QCoreApplication app(argc, argv);
    const int status = run(app);
    FinishSaying(); // what a run said while its reader stood
    RestoreStandardStreams();
    return status;
}
