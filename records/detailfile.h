#ifndef DETAILFILE_H
#define DETAILFILE_H

#include <QString>

// The job history: one text file per printer and day in the folder "details" beside the program,
// named after the printer's cloud serial number and the day of writing. Records follow each other,
// each closed by "!+!", with no line breaks. The folder is installed with the program and never
// created here; without it no record is kept.

// The detail record of one finished job: description (itself "document;submitted"), result,
// size in bytes, time handled.
QString jobDetailRecord(const QString &jobneed, const QString &result, qint64 jobSize, const QString &handledAt);
// The time of day a record names as the moment its job was handled: now, as "HH:mm:ss".
QString recordHandlingTime();
// Appends the record of one finished job to today's file of the serial.
void appendJobRecord(const QString &cloudSn, const QString &jobneed, const QString &result, qint64 jobSize);

// Today's file of that serial number.
QString detailFilePath(const QString &cloudSn);

// Appends one job record to today's file of the serial. The record is lost (and logged) when the
// file cannot be opened.
void appendDetailRecord(const QString &cloudSn, const QString &record);

// The whole of today's file of the serial; empty when it cannot be opened.
QString readDetailRecords(const QString &cloudSn);

// The size in bytes of today's file of the serial; 0 when it cannot be opened.
qint64 detailFileSize(const QString &cloudSn);

// Deletes the files dated before yesterday. Names that carry no date stay.
void DetailFileManage();

#endif // DETAILFILE_H
