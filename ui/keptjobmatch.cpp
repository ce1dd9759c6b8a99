#include "keptjobmatch.h"

#include "detailrecord.h"
#include "outboxjournal.h"

#include <QDateTime>
#include <QHash>

namespace {
// The record is written a moment before the journal hears of the result.
constexpr qint64 kRecordedWithinSecs = 5;

bool records(const JobTableRow &row, const DetailRecord &expected, const QDateTime &end, const QDate &day)
{
    if (row.kind != JobTableRow::Kind::Finished || row.document != expected.document
        || row.submitted != expected.submitted || row.status != expected.result
        || row.bytes != expected.sizeInBytes())
        return false;
    const QDateTime handled(day, QTime::fromString(row.handled, QStringLiteral("HH:mm:ss")));
    return handled.isValid() && qAbs(handled.secsTo(end)) <= kRecordedWithinSecs;
}
} // namespace

bool mayRecordKeptJob(const JobTableRow &row)
{
    return row.kind == JobTableRow::Kind::Finished && !isPrintedResult(row.status);
}

QList<int> markResendableRows(
    QList<JobTableRow> &rows, const QList<int> &failedRows, const QList<OutboxJob> &kept, const QDate &day)
{
    QHash<int, qint64> marks;
    for (const OutboxJob &job : kept) {
        const QDateTime end = job.updatedAt.toLocalTime();
        if (end.date() != day && end.addSecs(-kRecordedWithinSecs).date() != day)
            continue;
        // The record as the card wrote it, separators broken up and all.
        const DetailRecord expected = DetailRecord::fromText(
            jobDetailRecord(job.description, job.result, job.size, end.toString(QStringLiteral("HH:mm:ss"))));
        // Newest first: a job ended moments ago is among the last rows.
        for (auto it = failedRows.crbegin(); it != failedRows.crend(); ++it) {
            const int row = *it;
            if (!marks.contains(row) && records(rows.at(row), expected, end, day)) {
                marks.insert(row, job.id);
                break;
            }
        }
    }
    QList<int> changed;
    for (int row : failedRows) {
        const qint64 id = marks.value(row, 0);
        if (rows.at(row).resendJobId != id) {
            rows[row].resendJobId = id;
            changed.append(row);
        }
    }
    return changed;
}
