#include "cli.h"

#include <cstdio>

QString commandHelp(const QCommandLineParser &parser, const QString &command) {
    // The generated first line names the executable as it was started; name the command.
    const QString text = parser.helpText();
    const qsizetype options = text.indexOf(QStringLiteral(" [options]"));
    return QStringLiteral("usage: ") + command + (options < 0 ? u'\n' + text : text.mid(options));
}

int usageError(const QString &command, const QString &message) {
    std::fprintf(stderr, "%s: %s\nRun '%s --help' for its options.\n", qPrintable(command),
                 qPrintable(message), qPrintable(command));
    return 2;
}

std::optional<int> parseCommandLine(QCommandLineParser &parser, const QString &command,
                                    const QStringList &args) {
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(QStringList{command} + args))
        return usageError(command, parser.errorText());
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        std::fputs(commandHelp(parser, command).toUtf8().constData(), stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("qarnctl %s\n", QARN_VERSION);
        return 0;
    }
    return std::nullopt;
}
