#include "detailrecordparser.h"

QList<QStringList> parseDetailRecords(const QString &text)
{
    QList<QStringList> records;
    const QStringList pieces = text.split(QStringLiteral("!+!"));
    for (int i = 0; i + 1 < pieces.size(); ++i)
        records.append(pieces.at(i).split(QLatin1Char(';')));
    return records;
}
