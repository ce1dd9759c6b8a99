#ifndef CLOUDPROTOCOL_H
#define CLOUDPROTOCOL_H

#include <QByteArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QString>

// The cloud print service's protocol as the relay and the cards speak it, in one place: where each
// exchange goes, what the posts carry, and what the program reads from the answers.

// The print post: a job's body goes here.
QString printUrl(const QString &serviceBase);
// The result query of one job; the id is one query value, whatever characters it holds.
QString printResultUrl(const QString &serviceBase, const QString &cloudJobId);
// The device-state query of a card.
QString deviceStateUrl(const QString &serviceBase);
// The content type of every post to the service.
QByteArray cloudContentType();

// What a device-state answer says about the device. Unknown: the answer says nothing (not a JSON
// object, or a code the program does not know), and the card keeps what it shows.
enum class DeviceState { Unknown, Offline, Online };
DeviceState deviceState(const QJsonDocument &answer);

// The id the service runs a posted job under ("data"."tolvixId"), as text: it may come as a number.
QString cloudJobId(const QJsonDocument &answer);
// A print answer that hands the job over under `cloudJobId`, as the service's own does.
QJsonDocument printAnswer(const QString &cloudJobId);
// True when a failed post cannot have reached the service, so posting it again cannot print it
// twice: nobody took the connection, a gateway answered for the service, or the connection broke
// before the whole body was handed over (`bodySent` false; a service acts on a request only once all
// of it is in). A post whose body went out whole and got no answer may have printed: never again.
bool isRetryablePostFailure(QNetworkReply::NetworkError error, int httpStatus, bool bodySent);
// The document a print result carries to the card: `answer` (an object, or nothing) with the job's
// description and size, which ride along locally and never travel to the service.
QJsonDocument printResultDocument(const QJsonDocument &answer, const QString &jobneed, qint64 jobSize);

#endif // CLOUDPROTOCOL_H
