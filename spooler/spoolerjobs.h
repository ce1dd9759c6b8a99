#ifndef SPOOLERJOBS_H
#define SPOOLERJOBS_H

#include <QList>
#include <QString>
#include <QTime>

#include <optional>

// One job in a printer's spooler queue, as the spooler reports it.
struct SpoolerJob
{
    QString document;
    bool printing = false; // the spooler is sending this job now
    QTime submitted; // time of day of submission, UTC
    qint64 size = 0; // bytes, as the spooler counts them
};

// The jobs queued on a printer, in the spooler's order; nothing (and a log line) when the printer
// cannot be opened or its queue cannot be read.
std::optional<QList<SpoolerJob>> queuedJobs(const QString &printerName);

// A UTC time of day as the program shows it, in the service's time zone (UTC+8): "hh:mm:ss".
QString chinaTimeOfDay(const QTime &utc);

#endif // SPOOLERJOBS_H
