#ifndef CLOUDPROTOCOL_H
#define CLOUDPROTOCOL_H

#include <QJsonDocument>
#include <QNetworkReply>
#include <QString>

// What the relay reads from the cloud print service's answers, in one place.

// The id the service runs a posted job under ("data"."tolvixId"), as text: it may come as a number.
QString cloudJobId(const QJsonDocument &answer);
// A print answer that hands the job over under `cloudJobId`, as the service's own does.
QJsonDocument printAnswer(const QString &cloudJobId);
// True when a failed post cannot have reached the service (nobody took the connection, or a gateway
// answered for it), so posting it again cannot print it twice.
bool isRetryablePostFailure(QNetworkReply::NetworkError error, int httpStatus);
// The document a print result carries to the card: `answer` (an object, or nothing) with the job's
// description and size, which ride along locally and never travel to the service.
QJsonDocument printResultDocument(const QJsonDocument &answer, const QString &jobneed, qint64 jobSize);

#endif // CLOUDPROTOCOL_H
