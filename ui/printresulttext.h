#ifndef PRINTRESULTTEXT_H
#define PRINTRESULTTEXT_H

#include <QString>

// What a card records and shows for the end of a print job.

// The result text of a final status reported by the cloud service.
QString finalStatusResultText(const QString &status);

// The spooler's test page is recognised by the document name in its job description.
bool isTestPageJob(const QString &jobneed);

// The detail record of one finished job: description (itself "document;submitted"), result,
// size in bytes, time handled.
QString jobDetailRecord(const QString &jobneed, const QString &result, qint32 jobSize, const QString &handledAt);

#endif // PRINTRESULTTEXT_H
