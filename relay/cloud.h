#ifndef CLOUD_H
#define CLOUD_H

#include "driverinfo.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QObject>
#include <QString>

class QNetworkAccessManager;
class QUrl;

// Posts one print job to the cloud print service and reports the answer. It lives in the thread
// of the receiver that made it, and deletes itself once it has reported.
class Cloud : public QObject
{
    Q_OBJECT
public:
    Cloud(const QString &url, const DriverInfo &driverInfo, QObject *parent = nullptr);
    ~Cloud() override;

    // Posts the job; false when the URL is unusable or the body cannot be built, and then nothing
    // is sent and cloudResule never comes.
    bool request(const QByteArray &data, int size, const QString &jobneed);
    // The same with the body already built (printRequestBody, PrintBodyWriter) from a job of `size`
    // bytes; the receiver builds it while the job arrives, so the raw job is never held whole.
    bool requestBody(const QByteArray &body, int size, const QString &jobneed);
    // The reply of the last post, null before one: the caller waits on it or aborts it.
    QNetworkReply *reply() const;

signals:
    // The document always holds "jobneed" and "jobSize", which ride along locally for the job record
    // and never travel to the service.
    void cloudResule(QNetworkReply::NetworkError error, QJsonDocument jd);

private slots:
    void cloudReceive(QNetworkReply *reply);

private:
    // The request URL, or an invalid one (logged) when m_url is unusable.
    QUrl requestUrl() const;

    QNetworkAccessManager *m_manager = nullptr;
    QNetworkReply *m_reply = nullptr;
    DriverInfo m_driverInfo;
    QString m_url;
    QString m_jobneed;
    qint32 m_jobSize = 0;
};

#endif // CLOUD_H
