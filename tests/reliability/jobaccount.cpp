#include "jobaccount.h"

#include "winsim/winsimcontrol.h"

#include <QTest>
#include <QVector>

namespace {

// A record with a job description has five fields (document, submitted, result, size, handled),
// one without has four, the first empty.
bool hasDescription(const QStringList &record)
{
    return record.size() >= 5;
}

bool recordIsOf(const QStringList &record, const SentJob &job)
{
    if (job.document.isEmpty())
        return !hasDescription(record) && recordSize(record) == QString::number(job.bytes.size());
    return hasDescription(record) && recordDocument(record) == job.document;
}

} // namespace

QString recordDocument(const QStringList &record)
{
    return hasDescription(record) ? record.at(0) : QString();
}

QString recordResult(const QStringList &record)
{
    return record.value(record.size() - 3);
}

QString recordSize(const QStringList &record)
{
    return record.value(record.size() - 2);
}

Figures::Row accountJobs(
    const QList<SentJob> &sent, const QList<QByteArray> &atService, const QList<QStringList> &records)
{
    Figures::Row row;
    row.sent = sent.size();
    QVector<bool> serviceJobMatched(atService.size(), false);
    QVector<bool> recordMatched(records.size(), false);
    for (const SentJob &job : sent) {
        int copies = 0;
        for (int i = 0; i < atService.size(); ++i) {
            if (atService.at(i) == job.bytes) {
                ++copies;
                serviceJobMatched[i] = true;
            }
        }
        int recordCount = 0;
        bool recordedAsPrinted = false;
        for (int i = 0; i < records.size(); ++i) {
            if (recordIsOf(records.at(i), job)) {
                ++recordCount;
                recordMatched[i] = true;
                recordedAsPrinted
                    = recordedAsPrinted || recordResult(records.at(i)) == QStringLiteral("打印成功");
            }
        }
        if (copies > 0)
            ++row.delivered;
        if (copies > 1 || recordCount > 1)
            ++row.duplicated;
        if (recordCount == 1)
            ++row.recorded;
        if (recordCount == 0)
            ++row.unrecorded;
        if ((copies == 0 && recordCount == 0) || (copies == 0 && recordedAsPrinted))
            ++row.lost;
    }
    // Bytes at the service that no sent job has are a job that arrived torn or mixed with another;
    // a record no sent job has is a job told twice or told wrongly.
    for (bool matched : serviceJobMatched)
        row.lost += matched ? 0 : 1;
    for (bool matched : recordMatched)
        row.duplicated += matched ? 0 : 1;
    return row;
}

void closeAccount(Figures &figures, Figures::Row row)
{
    row.leakedHandles = winsim::openHandleCount();
    QCOMPARE(row.leakedHandles, 0);
    QCOMPARE(row.duplicated, 0);
    QCOMPARE(row.lost, 0);
    QCOMPARE(row.unrecorded, 0);
    figures.add(row);
}
