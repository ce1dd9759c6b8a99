#ifndef DETAILRECORDPARSER_H
#define DETAILRECORDPARSER_H

#include <QList>
#include <QStringList>

// Splits the text of a job detail file into its records and each record into its fields.
// What follows the last "!+!" is a record still being written (or nothing), never a record.
QList<QStringList> parseDetailRecords(const QString &text);

#endif // DETAILRECORDPARSER_H
