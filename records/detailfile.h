#ifndef DETAILFILE_H
#define DETAILFILE_H

#include "detailrecord.h"

#include <QByteArray>
#include <QDate>
#include <QString>

// The job history: one text file per printer and day in the folder "details" beside the program,
// named after the printer's cloud serial number and the day of writing. Records follow each other,
// each closed by "!+!", with no line breaks (detailrecord.h reads and writes them). The folder is
// installed with the program and never created here; without it no record is kept.

// The time of day a record names as the moment its job was handled: now, as "HH:mm:ss".
QString recordHandlingTime();
// Appends the record of one finished job to today's file of the serial.
void appendJobRecord(const QString &cloudSn, const QString &jobneed, const QString &result, qint64 jobSize);

// Today's file of that serial number, or the file of the given day.
QString detailFilePath(const QString &cloudSn);
QString detailFilePath(const QString &cloudSn, const QDate &day);

// Appends one job record to today's file of the serial, in UTF-8. A separator inside the record is
// broken up first. The record is lost (and logged) when the file cannot be opened.
void appendDetailRecord(const QString &cloudSn, const QString &record);

// The whole of today's file of the serial (or of the given day's); empty when it cannot be opened.
QString readDetailRecords(const QString &cloudSn);
QString readDetailRecords(const QString &cloudSn, const QDate &day);

// The size in bytes of today's file of the serial (or of the given day's); 0 when it cannot be
// opened.
qint64 detailFileSize(const QString &cloudSn);
qint64 detailFileSize(const QString &cloudSn, const QDate &day);

// The bytes of the given day's file from the offset on, and the file's size at that moment in
// fileSize (0 when it cannot be opened, which gives no bytes).
QByteArray readDetailBytes(const QString &cloudSn, const QDate &day, qint64 offset, qint64 *fileSize);

// Deletes the files dated before yesterday. Names that carry no date stay.
void DetailFileManage();

#endif // DETAILFILE_H
