// A stand-in for the host program torvane, for tests and the demo.
//
//   torvane.exe start      starts qarn from this program's folder, without waiting, prints
//                          its process id and ends
//   torvane.exe goToMain   what the tool runs when it ends: appends a record to
//                          torvane-host.log in this program's folder (arguments, working
//                          folder and the exact bytes of torvane.cha there) and ends with 0
//
// The real host also writes the hand-off files before it starts the tool; here the demo or the
// test writes them.

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <cstdio>

namespace {
// Bytes as readable text: printable ASCII stays, line ends and everything else are escaped.
QByteArray escaped(const QByteArray &bytes) {
    QByteArray out;
    for (const char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\\' || c == '"')
            out += QByteArray("\\") + char(c);
        else if (c >= 0x20 && c < 0x7F)
            out += char(c);
        else
            out += "\\x" + QByteArray::number(c, 16).rightJustified(2, '0').toUpper();
    }
    return out;
}

int logReturn(const QString &folder, const QStringList &arguments) {
    QByteArray record =
        "== torvane " + QDateTime::currentDateTimeUtc().toString(Qt::ISODate).toUtf8() + "\n";
    record += "arguments: " + arguments.join(u' ').toUtf8() + "\n";
    record += "working folder: " + QDir::currentPath().toUtf8() + "\n";
    QFile cha(QDir(folder).filePath(QStringLiteral("torvane.cha")));
    if (cha.open(QIODevice::ReadOnly)) {
        const QByteArray bytes = cha.readAll();
        record += "torvane.cha: \"" + escaped(bytes) + "\"\n";
        record += "torvane.cha hex: " + bytes.toHex(' ').toUpper() + "\n";
    } else {
        record += "torvane.cha: (none)\n";
    }
    record += "== end\n";

    QFile log(QDir(folder).filePath(QStringLiteral("torvane-host.log")));
    if (!log.open(QIODevice::WriteOnly | QIODevice::Append) || log.write(record) != record.size()) {
        std::fprintf(stderr, "torvane: cannot write %s\n", qPrintable(log.fileName()));
        return 1;
    }
    return 0;
}

int startTool(const QString &folder) {
    const QString tool = QDir(folder).filePath(QStringLiteral("qarn"));
    qint64 pid = 0;
    if (!QProcess::startDetached(tool, {}, folder, &pid)) {
        std::fprintf(stderr, "torvane: cannot start %s\n", qPrintable(tool));
        return 1;
    }
    std::printf("%lld\n", static_cast<long long>(pid));
    return 0;
}
} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    const QString folder = QCoreApplication::applicationDirPath();
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    const QString command = arguments.value(0);
    if (command == u"goToMain")
        return logReturn(folder, arguments);
    if (command == u"start")
        return startTool(folder);
    std::fprintf(stderr, "usage: torvane.exe start | goToMain\n");
    return 2;
}
