#include "ansi_code_page.h"

#include <QStringDecoder>
#include <QStringEncoder>

QString DecodeAnsi(const QByteArray &bytes) {
    // Made once: every text file of the tool is decoded here, one after another on one thread.
    static QStringDecoder sjis("Shift_JIS", QStringDecoder::Flag::Stateless);
    if (!sjis.isValid())
        return QString::fromLatin1(bytes);
    sjis.resetState();
    return sjis.decode(bytes);
}

QByteArray EncodeAnsi(QStringView text) {
    QStringEncoder sjis("Shift_JIS");
    if (!sjis.isValid())
        return QByteArray();
    const QByteArray bytes = sjis.encode(text);
    if (sjis.hasError())
        return QByteArray();
    return bytes;
}
