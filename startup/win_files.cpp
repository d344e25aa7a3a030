#include "win_files.h"

#include <QDir>
#include <windows.h>

std::wstring NativePath(const QString &path) {
    return QDir::toNativeSeparators(path).toStdWString();
}

namespace {
bool isReservedName(QStringView name) {
    static const char16_t *const kNames[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
    for (const char16_t *reserved : kNames) {
        if (name.compare(QStringView(reserved), Qt::CaseInsensitive) == 0)
            return true;
    }
    // COM and LPT with one digit, the superscripts ¹ ² ³ counting as digits.
    if (name.size() != 4 || !(name.left(3).compare(u"COM", Qt::CaseInsensitive) == 0 ||
                              name.left(3).compare(u"LPT", Qt::CaseInsensitive) == 0))
        return false;
    const char16_t digit = name.at(3).unicode();
    return (digit >= u'0' && digit <= u'9') || digit == u'\u00B9' || digit == u'\u00B2' ||
           digit == u'\u00B3';
}
} // namespace

bool IsDevicePath(const QString &path) {
    const QString native = QDir::toNativeSeparators(path);
    const QStringView view(native);
    if (view.startsWith(u"\\\\.\\") || view.startsWith(u"\\\\?\\")) {
        // Of the prefixed paths only those to a drive, a share or a volume name files.
        const QStringView rest = view.mid(4);
        const bool drive =
            rest.size() >= 3 && rest.at(0).isLetter() && rest.at(1) == u':' && rest.at(2) == u'\\';
        if (!drive && !rest.startsWith(u"UNC\\", Qt::CaseInsensitive) &&
            !rest.startsWith(u"Volume{", Qt::CaseInsensitive))
            return true;
    }
    QStringView last = view.mid(native.lastIndexOf(u'\\') + 1);
    if (native.lastIndexOf(u'\\') < 0 && last.size() >= 2 && last.at(1) == u':')
        last = last.mid(2); // C:NUL, relative to the drive's current folder
    for (qsizetype i = 0; i < last.size(); ++i) {
        if (last.at(i) == u'.' || last.at(i) == u':') {
            last = last.left(i);
            break;
        }
    }
    while (last.endsWith(u' '))
        last.chop(1);
    return isReservedName(last);
}

QString Win32ErrorText(unsigned long error) {
    wchar_t *buffer = nullptr;
    const DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    QString text = n > 0 ? QString::fromWCharArray(buffer, int(n)).trimmed() : QString();
    ::LocalFree(buffer);
    if (text.endsWith(u'.') || text.endsWith(u'\u3002'))
        text.chop(1);
    if (text.isEmpty())
        text = QStringLiteral("Windows error %1").arg(error);
    return text;
}
