#include "text_helpers.h"

#include "ansi_code_page.h"
#include "shared_state.h"

namespace {
constexpr int kMaxWord = 128;

// The character at a 1-based position, or NUL past the end (which sorts below the space).
ushort charAt(const QString &line, int pos) {
    if (pos < 1 || pos > line.size())
        return 0;
    return line.at(pos - 1).unicode();
}

void skipBlanks(const QString &line, int16_t &pos) {
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (charAt(line, pos) > 0x20)
            return;
        if (pos == INT16_MAX)
            return;
        ++pos;
    }
}

QString pairLookup(const QStringList &list, const QString &code) {
    for (qsizetype k = 0; 2 * k + 1 < list.size(); ++k) {
        if (list.at(2 * k) == code)
            return list.at(2 * k + 1);
    }
    return code;
}
} // namespace

int16_t AnsiCode(QChar c) {
    if (c.unicode() < 0x80)
        return int16_t(c.unicode());
    const QByteArray bytes = EncodeAnsi(QStringView(&c, 1));
    if (bytes.isEmpty())
        return int16_t('?');
    if (bytes.size() == 1)
        return int16_t(uchar(bytes.at(0)));
    return int16_t((uchar(bytes.at(0)) << 8) | uchar(bytes.at(1)));
}

std::optional<int16_t> IsKeyLine(const QString &line, const QString &key, int16_t keyLength) {
    const int n = keyLength < 0 ? 0 : keyLength;
    if (QStringView(line).left(n).compare(QStringView(key), Qt::CaseInsensitive) != 0)
        return 0;
    if (line.size() <= n)
        return std::nullopt;
    return AnsiCode(line.at(n)) > 32 ? 0 : 1;
}

QString GetWord(const QString &line, int16_t &pos) {
    skipBlanks(line, pos);
    QString word;
    for (int i = 0; i < kMaxWord; ++i) {
        const ushort c = charAt(line, pos);
        if (c <= 0x20)
            break;
        word.append(QChar(c));
        if (pos == INT16_MAX)
            break;
        ++pos;
    }
    return word;
}

QString GetRestOfLine(const QString &line, int16_t &pos) {
    skipBlanks(line, pos);
    QString rest;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const ushort c = charAt(line, pos);
        if (c < 0x20)
            break;
        rest.append(QChar(c));
        if (pos == INT16_MAX)
            break;
        ++pos;
    }
    return rest;
}

QString LangName(const QString &code) {
    return pairLookup(gLangList, code);
}

QString CountryName(const QString &code) {
    return pairLookup(gCountryList, code);
}
