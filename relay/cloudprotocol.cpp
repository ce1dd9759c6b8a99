#include "cloudprotocol.h"

#include <QJsonObject>
#include <QUrl>

QString printUrl(const QString &serviceBase)
{
    return serviceBase + QStringLiteral("/v1.1/transparentPrinting");
}

QString printResultUrl(const QString &serviceBase, const QString &cloudJobId)
{
    // "#", "+", "%" or "&" in the id would otherwise end the value, turn into a space or start
    // another value, and the service would not know the job.
    return serviceBase + QStringLiteral("/v1.1/printResult?tolvixId=")
        + QString::fromLatin1(QUrl::toPercentEncoding(cloudJobId));
}

QString deviceStateUrl(const QString &serviceBase)
{
    return serviceBase + QStringLiteral("/v1.1/getNumberStatu");
}

QByteArray cloudContentType()
{
    return QByteArrayLiteral("application/json;charset=UTF-8");
}

DeviceState deviceState(const QJsonDocument &answer)
{
    // A page that is no JSON object (a proxy's error page, say) says nothing about the device; taken
    // as an empty answer it would show the device online.
    if (!answer.isObject())
        return DeviceState::Unknown;
    const QJsonObject object = answer.object();
    const int code = object.value(QStringLiteral("code")).toInt();
    if (code == 1001 || code == 4002)
        return DeviceState::Offline;
    if (code != 0)
        return DeviceState::Unknown;
    // Code 0 with data "17": the service knows the device, and the device is away.
    return object.value(QStringLiteral("data")).toString() == QLatin1String("17") ? DeviceState::Offline
                                                                                  : DeviceState::Online;
}

QString cloudJobId(const QJsonDocument &answer)
{
    const QJsonValue id
        = answer.object().value(QStringLiteral("data")).toObject().value(QStringLiteral("tolvixId"));
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

bool isRetryablePostFailure(QNetworkReply::NetworkError error, int httpStatus, bool bodySent)
{
    if (error == QNetworkReply::ConnectionRefusedError || error == QNetworkReply::HostNotFoundError)
        return true;
    if (httpStatus == 502 || httpStatus == 503 || httpStatus == 504)
        return true;
    if (httpStatus != 0 || bodySent)
        return false;
    // The way broke under the body; the program's own failures (a stop, an unreadable spool file)
    // and answers it could not read are not the network's and are not tried again.
    switch (error) {
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
        return true;
    default:
        return false;
    }
}

QJsonDocument printResultDocument(const QJsonDocument &answer, const QString &jobneed, qint64 jobSize)
{
    QJsonObject object = answer.object();
    object.insert(QStringLiteral("jobneed"), jobneed);
    object.insert(QStringLiteral("jobSize"), QJsonValue(jobSize));
    return QJsonDocument(object);
}
