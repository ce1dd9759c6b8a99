#ifndef JOBACCOUNT_H
#define JOBACCOUNT_H

#include "figures.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One job as the spooler side sent it: the document name the spooler showed (empty for a bare
// connection, which carries no description) and its bytes.
struct SentJob
{
    QString document;
    QByteArray bytes;
};

// Settles the account of a case: which sent job reached the service how often, which has how many
// records, and what is left over on either side.
Figures::Row accountJobs(
    const QList<SentJob> &sent, const QList<QByteArray> &atService, const QList<QStringList> &records);

// Closes the account of a case into the figures: no spooler handle left open, no job sent twice,
// lost or left without its record. Fails the running test otherwise, leaving the row out.
void closeAccount(Figures &figures, Figures::Row row);

// The fields of a record, wherever the job description put them.
QString recordDocument(const QStringList &record);
QString recordResult(const QStringList &record);
QString recordSize(const QStringList &record);

#endif // JOBACCOUNT_H
