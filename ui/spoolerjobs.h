#ifndef SPOOLERJOBS_H
#define SPOOLERJOBS_H

#include <QList>
#include <QString>
#include <QTime>

// One job in a printer's spooler queue, as the spooler reports it.
struct SpoolerJob
{
    QString document;
    bool printing = false; // the spooler is sending this job now
    QTime submitted;       // time of day of submission, UTC
};

// The jobs queued on a printer, in the spooler's order; empty when the printer cannot be opened
// or has no jobs.
QList<SpoolerJob> queuedJobs(const QString &printerName);

// A UTC time of day as the program shows it, in China's time zone (UTC+8): "hh:mm:ss".
QString chinaTimeOfDay(const QTime &utc);

#endif // SPOOLERJOBS_H
