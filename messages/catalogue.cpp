#include "catalogue.h"

#include "shared_state.h"
#include "text_file.h"

#include <QFile>
#include <QHash>

namespace {
const QHash<int, QString> &table() {
    static const QHash<int, QString> entries = [] {
        QHash<int, QString> t;
        QFile file(QStringLiteral(":/qarn/strings.tsv"));
        if (!file.open(QIODevice::ReadOnly))
            return t;
        const QStringList lines = SplitLines(QString::fromUtf8(file.readAll()));
        for (const QString &line : lines) {
            if (line.startsWith(u'#'))
                continue;
            const qsizetype tab = line.indexOf(u'\t');
            bool ok = false;
            const int id = line.left(tab).toInt(&ok);
            if (tab > 0 && ok)
                t.insert(id, line.mid(tab + 1));
        }
        return t;
    }();
    return entries;
}
} // namespace

QString LoadResString(int id) {
    return table().value(id);
}

bool HasResString(int id) {
    return table().contains(id);
}

QString Msg(int j) {
    return LoadResString(gLangBase + j);
}
