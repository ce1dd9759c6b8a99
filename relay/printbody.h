#ifndef PRINTBODY_H
#define PRINTBODY_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The body of a print post for one job: the indented JSON object
//   {"async": true, "dataType": "base64", "printData": <Base64 of job>, "taskPersist": false,
//    "tvNumber": [cloudSn]}
// byte for byte as QJsonDocument::toJson(QJsonDocument::Indented) writes it. Jobs run to hundreds
// of megabytes, so the Base64 text is written straight into the one body buffer instead of going
// through a JSON tree and two more copies. Returns a null array when the body cannot be held in
// memory (larger than a byte array can be, or the allocation fails).
QByteArray printRequestBody(const QString &cloudSn, const QByteArray &job);

// Length of the standard, padded Base64 text of n bytes.
qint64 base64Length(qint64 n);

#endif // PRINTBODY_H
