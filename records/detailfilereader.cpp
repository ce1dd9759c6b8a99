#include "detailfilereader.h"

#include "detailfile.h"

namespace {

// Where the last separator ends, found from the front as the whole file's reading finds them
// ("!+!+!" closes a record at its first "!+!", not at its last).
int endOfWholeRecords(const QByteArray &bytes)
{
    const QByteArray separator = detailRecordSeparator().toLatin1();
    int end = 0;
    for (int at = bytes.indexOf(separator); at >= 0; at = bytes.indexOf(separator, end))
        end = at + separator.size();
    return end;
}

} // namespace

DetailFileReader::DetailFileReader(const QString &cloudSn, const QDate &day)
    : m_cloudSn(cloudSn)
    , m_day(day)
{
}

void DetailFileReader::setDay(const QDate &day)
{
    if (day == m_day)
        return;
    m_day = day;
    startOver();
}

void DetailFileReader::startOver()
{
    m_offset = 0;
    m_seenSize = 0;
    m_startedOver = true;
}

QList<DetailRecord> DetailFileReader::readAppended(bool *startedOver)
{
    QList<DetailRecord> records;
    const qint64 size = detailFileSize(m_cloudSn, m_day);
    if (size < m_offset)
        startOver();
    if (size != m_seenSize) {
        qint64 sizeAtRead = 0;
        const QByteArray tail = readDetailBytes(m_cloudSn, m_day, m_offset, &sizeAtRead);
        if (sizeAtRead < m_offset) {
            // Replaced between the two looks: read it whole at the next call.
            startOver();
        } else {
            const int end = endOfWholeRecords(tail);
            if (end > 0) {
                records = parseDetailBytes(tail.left(end));
                m_offset += end;
            }
            m_seenSize = sizeAtRead;
        }
    }
    if (startedOver)
        *startedOver = m_startedOver;
    m_startedOver = false;
    return records;
}
