#include "cloud.h"

#include "printbody.h"

#include <QDebug>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QUrl>

Cloud::Cloud(const QString &url, const DriverInfo &driverInfo, QObject *parent)
    : QObject(parent)
    , m_manager(new QNetworkAccessManager(this))
    , m_driverInfo(driverInfo)
    , m_url(url)
{
    connect(m_manager, &QNetworkAccessManager::finished, this, &Cloud::cloudReceive);
}

Cloud::~Cloud()
{
    qDebug() << "17_Cloud destruct";
}

bool Cloud::request(const QByteArray &data, int size, const QString &jobneed)
{
    m_jobneed = jobneed;
    m_jobSize = size;
    if (!requestUrl().isValid())
        return false;
    const QByteArray body = printRequestBody(m_driverInfo.cloud_sn, data);
    if (body.isNull()) {
        qDebug() << "29_Cloud cannot build the print body for" << data.size() << "bytes";
        return false;
    }
    return requestBody(body, size, jobneed);
}

bool Cloud::requestBody(const QByteArray &body, int size, const QString &jobneed)
{
    m_jobneed = jobneed;
    m_jobSize = size;
    const QUrl url = requestUrl();
    if (!url.isValid())
        return false;
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json;charset=UTF-8"));
    // The manager shares the body instead of copying it (a byte array of known size needs no
    // buffering), and hands it to its HTTP thread 16 KiB at a time.
    m_reply = m_manager->post(request, body);
    qDebug() << "45_Cloud request post to:" << url << ",and m_reply=" << m_reply;
    return true;
}

QUrl Cloud::requestUrl() const
{
    const QUrl url = QUrl::fromUserInput(m_url);
    if (!url.isValid())
        qDebug().noquote() << QStringLiteral("28_Cloud Invalid URL: %1: %2").arg(m_url, url.errorString());
    return url;
}

QNetworkReply *Cloud::reply() const
{
    return m_reply;
}

void Cloud::cloudReceive(QNetworkReply *reply)
{
    if (reply->error() != QNetworkReply::NoError) {
        qDebug().noquote() << QStringLiteral("69_Cloud receive err: %1, code: %2")
                                  .arg(reply->errorString())
                                  .arg(int(reply->error()));
        QJsonObject object;
        object.insert(QStringLiteral("jobneed"), m_jobneed);
        object.insert(QStringLiteral("jobSize"), m_jobSize);
        emit cloudResule(reply->error(), QJsonDocument(object));
    } else {
        const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        qDebug().noquote() << QStringLiteral("56_Cloud %1 %2 reply no error,status code is %3")
                                  .arg(m_driverInfo.printer_name, m_driverInfo.cloud_sn)
                                  .arg(status);
        QJsonDocument document = QJsonDocument::fromJson(reply->readAll());
        qDebug() << "56_Cloud get" << document;
        QJsonObject object = document.object();
        object.insert(QStringLiteral("jobneed"), m_jobneed);
        object.insert(QStringLiteral("jobSize"), m_jobSize);
        document.setObject(object);
        emit cloudResule(reply->error(), document);
    }
    reply->deleteLater();
    deleteLater();
}
