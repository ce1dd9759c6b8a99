#ifndef JOBTABLEROW_H
#define JOBTABLEROW_H

#include <QString>

struct DetailRecord;
struct JobInFlight;
struct SpoolerJob;

// One row of the job history table, whatever it comes from. The table is filled from lists of
// these, so a new source of rows (or an action on some kind of row) needs no change to how the
// table is written.
struct JobTableRow
{
    enum class Kind {
        Finished, // recorded in the day's detail file
        InFlight, // taken from the spooler, on its way to its result
        Queued, // still in the spooler's queue
    };

    Kind kind = Kind::Finished;
    QString document;
    QString status;
    QString size;
    QString sizeToolTip;
    QString submitted;
    QString handled;
    // The job's bytes, -1 when unknown.
    qint64 bytes = -1;
    // A failed job whose bytes the outbox still keeps: the id it can be sent again under.
    qint64 resendJobId = 0;

    static JobTableRow finished(const DetailRecord &record);
    static JobTableRow inFlight(const JobInFlight &job);
    static JobTableRow queued(const SpoolerJob &job);

    bool operator==(const JobTableRow &other) const;
    bool operator!=(const JobTableRow &other) const { return !(*this == other); }
};

#endif // JOBTABLEROW_H
