#include "host_conf.h"

#include "run_errors.h"
#include "shared_state.h"
#include "text_file.h"

namespace {

// Surrounding blanks go before a keyword is recognised.
QString trimmedBlanks(const QString &line) {
    qsizetype first = 0;
    qsizetype last = line.size();
    auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (first < last && blank(line[first]))
        ++first;
    while (last > first && blank(line[last - 1]))
        --last;
    return line.mid(first, last - first);
}

// Everything after the first "=" of the line as written, spaces included; the whole line when
// it has no "=".
QString valueOf(const QString &line) {
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? line : line.mid(eq + 1);
}

bool startsWith(const QString &trimmed, const char *keyword) {
    return trimmed.startsWith(QLatin1String(keyword), Qt::CaseSensitive);
}

int fail(int16_t errNo, int runErrNo) {
    gErrNo = errNo;
    gRunErrNo = int16_t(runErrNo);
    return 99;
}

} // namespace

int ReadHostConf(FirmTreeSink &tree) {
    gErrNo = 160;
    gFilePath = AppFilePath(QStringLiteral("torvane.conf"));
    gErrFileName = gFilePath;
    tree.clear();

    QByteArray bytes;
    const int code = ReadTextFile(gFilePath, bytes);
    if (code == RunError::FileNotFound || code == RunError::BadFileName)
        return fail(160, 0);
    if (code != 0)
        return fail(169, code);
    return HostConfFromBytes(bytes, tree);
}

int HostConfFromBytes(const QByteArray &bytes, FirmTreeSink &tree) {
    gErrNo = 160;
    const QStringList lines = TextLines(bytes);
    qsizetype next = 0;
    QString current;
    bool finished = false;
    auto atEnd = [&] { return next >= lines.size(); };
    // Positions inside a line are 16-bit, as in every other reader: a longer line is an overflow.
    auto readLine = [&] {
        current = lines[next++];
        return current.size() <= kMaxLineLength;
    };

    while (!atEnd() && !startsWith(trimmedBlanks(current), "end") && !finished) {
        if (!readLine())
            return fail(169, RunError::Overflow);
        const QString trimmed = trimmedBlanks(current);
        if (!startsWith(trimmed, "machine") || valueOf(current) != gSelectedModel)
            continue;

        const QString modelKey = valueOf(current);
        if (!tree.addNode(QString(), modelKey, modelKey))
            return fail(169, kDuplicateNodeKey);

        bool foundBoard = false;
        QString boardKey;
        while (!atEnd() && !finished) {
            if (!readLine())
                return fail(169, RunError::Overflow);
            const QString t = trimmedBlanks(current);
            if (startsWith(t, "board")) {
                const QString board = valueOf(current);
                foundBoard = board == gSelectedPcb;
                if (foundBoard) {
                    boardKey = modelKey + u'=' + board;
                    if (!tree.addNode(modelKey, boardKey, board))
                        return fail(169, kDuplicateNodeKey);
                }
            } else if (startsWith(t, "version") && foundBoard) {
                const QString version = valueOf(current);
                if (!tree.addNode(boardKey, boardKey + u'\\' + version, version))
                    return fail(169, kDuplicateNodeKey);
            } else if (startsWith(t, "machine") || startsWith(t, "end") || atEnd()) {
                finished = true;
            }
        }
    }

    tree.expandAll();
    gErrNo = 0;
    gErrFileName.clear();
    gRunErrNo = 0;
    return 0;
}
