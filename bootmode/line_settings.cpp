#include "line_settings.h"

#include "run_errors.h"

#include <QStringList>

int ParseLineSettings(const QString &text, LineSettings &settings) {
    const QStringList fields = text.split(u',');
    if (fields.size() != 4)
        return RunError::InvalidArgument;

    LineSettings parsed;
    bool ok = false;
    const QString rate = fields[0].trimmed();
    parsed.bitRate = rate.toInt(&ok, 10);
    if (!ok || parsed.bitRate <= 0 || rate.startsWith(u'+'))
        return RunError::InvalidArgument;

    const QString parity = fields[1].trimmed().toUpper();
    if (parity.size() != 1 || !QStringLiteral("NOEMS").contains(parity))
        return RunError::InvalidArgument;
    parsed.parity = parity[0].toLatin1();

    parsed.dataBits = fields[2].trimmed().toInt(&ok, 10);
    if (!ok || parsed.dataBits < 5 || parsed.dataBits > 8)
        return RunError::InvalidArgument;

    const QString stop = fields[3].trimmed();
    if (stop == u"1")
        parsed.stopBits = 1;
    else if (stop == u"1.5")
        parsed.stopBits = 15;
    else if (stop == u"2")
        parsed.stopBits = 2;
    else
        return RunError::InvalidArgument;

    settings = parsed;
    return 0;
}
