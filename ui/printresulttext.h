#ifndef PRINTRESULTTEXT_H
#define PRINTRESULTTEXT_H

#include <QString>

// What a card records and shows for the end of a print job.

// The result text of a final status reported by the cloud service.
QString finalStatusResultText(const QString &status);

// The spooler's test page is recognised by the document name in its job description.
bool isTestPageJob(const QString &jobneed);

#endif // PRINTRESULTTEXT_H
