#include "text_file.h"

#include "ansi_code_page.h"
#include "run_errors.h"
#include "shared_state.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

QString DecodeText(const QByteArray &bytes) {
    // Made once: every text file of the tool is decoded here, one after another on one thread.
    static QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    utf8.resetState();
    QString text = utf8.decode(bytes);
    if (!utf8.hasError()) {
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    return DecodeAnsi(bytes);
}

QStringList SplitLines(const QString &text) {
    QStringList lines;
    lines.reserve(text.count(u'\n') + text.count(u'\r') + 1);
    qsizetype start = 0;
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (c != u'\r' && c != u'\n')
            continue;
        lines.append(text.mid(start, i - start));
        if (c == u'\r' && i + 1 < n && text.at(i + 1) == u'\n')
            ++i;
        start = i + 1;
    }
    if (start < n)
        lines.append(text.mid(start));
    return lines;
}

int ReadFileBytes(const QString &path, QByteArray &bytes, qint64 limit, int tooLong) {
    bytes.clear();
    QFile file;
    if (const int code = OpenRegularFile(path, file))
        return code;
    if (file.size() > limit)
        return tooLong;
    // Read to the end, which for a file that grows since its size was taken may lie beyond
    // that size, but never more than one byte beyond the limit.
    bytes.reserve(file.size() + 1);
    while (bytes.size() <= limit) {
        const QByteArray chunk = file.read(std::min<qint64>(limit + 1 - bytes.size(), 1 << 16));
        if (file.error() != QFileDevice::NoError) {
            bytes.clear();
            return RunError::DeviceIo;
        }
        if (chunk.isEmpty())
            return 0;
        bytes += chunk;
    }
    bytes.clear();
    return tooLong;
}

QStringList TextLines(const QByteArray &bytes) {
    return SplitLines(DecodeText(bytes));
}

int ReadTextFile(const QString &path, QByteArray &bytes) {
    return ReadFileBytes(path, bytes, kMaxTextFileSize, RunError::OutOfMemory);
}

QString AppFilePath(const QString &name) {
    return QDir(gAppDir).filePath(name);
}

int LastSeparator(const QString &path) {
    return int(std::max(path.lastIndexOf(u'\\'), path.lastIndexOf(u'/')));
}
