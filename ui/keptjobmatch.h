#ifndef KEPTJOBMATCH_H
#define KEPTJOBMATCH_H

#include "jobtablerow.h"

#include <QDate>
#include <QList>

struct OutboxJob;

// Marks the finished rows of `day` that record a failed job whose bytes the outbox still keeps, so
// that the history can offer to send it again, and unmarks the others. A kept job is the row that
// records its description, result and size within a few seconds of the job's end; each job marks
// one row at most. Returns the rows whose mark changed.
QList<int> markResendableRows(QList<JobTableRow> &rows, const QList<OutboxJob> &kept, const QDate &day);

#endif // KEPTJOBMATCH_H
