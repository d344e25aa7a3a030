#include "ansi_code_page.h"

#include <algorithm>
#include <windows.h>

namespace {
// Bytes decoded in one call. Longer text is cut after a line end, which is never the second
// byte of a character in any ANSI code page, so no character is split.
constexpr qsizetype kPiece = qsizetype(1) << 24;

void appendDecoded(QString &text, const char *bytes, int size) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, bytes, size, nullptr, 0);
    if (n <= 0)
        return;
    const qsizetype at = text.size();
    text.resize(at + n);
    const int done = ::MultiByteToWideChar(CP_ACP, 0, bytes, size,
                                           reinterpret_cast<wchar_t *>(text.data() + at), n);
    text.resize(at + std::max(done, 0));
}
} // namespace

QString DecodeAnsi(const QByteArray &bytes) {
    QString text;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype n = std::min(bytes.size() - start, kPiece);
        if (start + n < bytes.size()) {
            const qsizetype end = bytes.lastIndexOf('\n', start + n - 1);
            if (end >= start)
                n = end + 1 - start;
        }
        appendDecoded(text, bytes.constData() + start, int(n));
        start += n;
    }
    return text;
}

QByteArray EncodeAnsi(QStringView text) {
    if (text.isEmpty() || text.size() > kPiece)
        return QByteArray();
    // UTF-8 as the system's code page (a choice of Windows 10 and later) takes neither a
    // default character nor best-fit flags: a character it cannot take is an error instead.
    const bool utf8 = ::GetACP() == CP_UTF8;
    const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int length = int(text.size());
    BOOL usedDefault = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, flags, wide, length, nullptr, 0, nullptr,
                                        utf8 ? nullptr : &usedDefault);
    if (n <= 0 || usedDefault)
        return QByteArray();
    QByteArray bytes(n, Qt::Uninitialized);
    if (::WideCharToMultiByte(CP_ACP, flags, wide, length, bytes.data(), n, nullptr,
                              utf8 ? nullptr : &usedDefault) != n ||
        usedDefault)
        return QByteArray();
    return bytes;
}
