#include "cloudprotocol.h"

#include <QJsonObject>

QString cloudJobId(const QJsonDocument &answer)
{
    const QJsonValue id =
        answer.object().value(QStringLiteral("data")).toObject().value(QStringLiteral("tolvixId"));
    if (id.isDouble())
        return QString::number(id.toDouble(), 'g', 17);
    return id.toString();
}

QJsonDocument printAnswer(const QString &cloudJobId)
{
    QJsonObject data;
    data.insert(QStringLiteral("tolvixId"), cloudJobId);
    QJsonObject answer;
    answer.insert(QStringLiteral("data"), data);
    return QJsonDocument(answer);
}

bool isRetryablePostFailure(QNetworkReply::NetworkError error, int httpStatus)
{
    if (error == QNetworkReply::ConnectionRefusedError || error == QNetworkReply::HostNotFoundError)
        return true;
    return httpStatus == 502 || httpStatus == 503 || httpStatus == 504;
}

QJsonDocument printResultDocument(const QJsonDocument &answer, const QString &jobneed, qint64 jobSize)
{
    QJsonObject object = answer.object();
    object.insert(QStringLiteral("jobneed"), jobneed);
    object.insert(QStringLiteral("jobSize"), QJsonValue(jobSize));
    return QJsonDocument(object);
}
