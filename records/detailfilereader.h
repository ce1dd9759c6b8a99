#ifndef DETAILFILEREADER_H
#define DETAILFILEREADER_H

#include "detailrecord.h"

#include <QDate>
#include <QList>
#include <QString>

// Follows one detail file as it grows: each read returns only the records appended since the last
// one, so a long day's history costs a look at the file's size per read, not a read of the whole.
// A record whose separator has not been written yet waits for a later read. A file that shrank, or
// a change of day, starts the reading over from the beginning.
class DetailFileReader
{
public:
    DetailFileReader(const QString &cloudSn, const QDate &day);

    // The file followed from now on; another day than before starts over.
    void setDay(const QDate &day);
    QDate day() const { return m_day; }

    // The records completed since the last read. startedOver, when given, tells whether the reading
    // began again from the start of the file, so that what was read before no longer stands.
    QList<DetailRecord> readAppended(bool *startedOver = nullptr);

    // Bytes of the file consumed so far: the end of the last whole record read.
    qint64 offset() const { return m_offset; }

private:
    void startOver();

    QString m_cloudSn;
    QDate m_day;
    qint64 m_offset = 0;
    qint64 m_seenSize = 0;
    bool m_startedOver = false;
};

#endif // DETAILFILEREADER_H
