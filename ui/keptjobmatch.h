#ifndef KEPTJOBMATCH_H
#define KEPTJOBMATCH_H

#include "jobtablerow.h"

#include <QDate>
#include <QList>

struct OutboxJob;

// Whether a row may record a job whose bytes the outbox keeps: only failed jobs are kept, so only
// finished rows with a failure's result can be offered to be sent again.
bool mayRecordKeptJob(const JobTableRow &row);

// Marks the finished rows of `day` that record a failed job whose bytes the outbox still keeps, so
// that the history can offer to send it again, and unmarks the others. Only the rows listed in
// `failedRows` (ascending, each one for which mayRecordKeptJob holds) are looked at: a long day of
// printed jobs costs nothing here. A kept job is the row that records its description, result and
// size within a few seconds of the job's end; each job marks one row at most. Returns the rows
// whose mark changed.
QList<int> markResendableRows(
    QList<JobTableRow> &rows, const QList<int> &failedRows, const QList<OutboxJob> &kept, const QDate &day);

#endif // KEPTJOBMATCH_H
