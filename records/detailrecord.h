#ifndef DETAILRECORD_H
#define DETAILRECORD_H

#include <QByteArray>
#include <QList>
#include <QString>

// One finished job as a detail file keeps it. The file holds records one after the other, each
// closed by "!+!", with no line breaks; a record is "description;result;size;handled", where the
// description is "document;submitted" or empty. The writer and the reader of that text live here
// together, so whoever changes one sees the other.
struct DetailRecord
{
    QString document;
    QString submitted; // "hh:mm:ss" as the spooler showed it, or empty
    QString result;
    QString size; // bytes as decimal digits; a damaged record may hold anything
    QString handled; // "HH:mm:ss"

    // The size in bytes, or -1 when the record does not hold a number there.
    qint64 sizeInBytes() const;

    // Reads one record's text. The description may itself hold ";" (a document called
    // "预算;草稿.txt"), so the fields are taken from the right by their shapes; a record that does
    // not have those shapes is read from the left, field after field.
    static DetailRecord fromText(const QString &text);

    bool operator==(const DetailRecord &other) const;
    bool operator!=(const DetailRecord &other) const { return !(*this == other); }
};

// The document and the submission time a job description ("document;submitted") names; a
// description without a time is a document alone.
void splitJobDescription(const QString &jobneed, QString *document, QString *submitted);

// What closes each record in a detail file.
QString detailRecordSeparator();

// The text of one job's record, ready to be appended. A separator inside the description or the
// result is broken up so that it cannot close the record early.
QString jobDetailRecord(
    const QString &jobneed, const QString &result, qint64 jobSize, const QString &handledAt);

// Breaks up every separator inside a record's text ("!+!" becomes "!+ !"), and an ending that would
// make one together with the separator that follows it.
QString escapeDetailRecord(const QString &record);

// The bytes a record text is written as: UTF-8, whatever the system's code page.
QByteArray encodeDetailRecord(const QString &record);

// Decodes a detail file's bytes record by record: UTF-8 where the bytes are valid UTF-8, otherwise
// the system's code page, in which files were written before. A file begun before an update and
// continued after it holds both.
QString decodeDetailText(const QByteArray &bytes);

// The records of a detail file's text. What follows the last separator is a record still being
// written (or nothing), never a record.
QList<DetailRecord> parseDetailRecords(const QString &text);

// The same, from the file's bytes.
QList<DetailRecord> parseDetailBytes(const QByteArray &bytes);

#endif // DETAILRECORD_H
