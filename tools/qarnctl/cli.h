#pragma once
// The command line of qarnctl and its commands, read with QCommandLineParser: --help and
// --version come from the option list, "--opt=value" and "--opt value" are both accepted, and
// an unknown or malformed option is a message on standard error and exit status 2.

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <optional>

// Adds --help and --version, then parses `args` (the arguments after `command`, e.g.
// "qarnctl flash"). std::nullopt: go on; otherwise the exit status to end with at once (0
// after --help or --version, 2 on a usage error).
std::optional<int> parseCommandLine(QCommandLineParser &parser, const QString &command,
                                    const QStringList &args);

// The generated help text, its first line naming `command`.
QString commandHelp(const QCommandLineParser &parser, const QString &command);

// A usage error of `command` on standard error, with a pointer to --help; returns 2.
int usageError(const QString &command, const QString &message);
