#ifndef CLOUD_H
#define CLOUD_H

#include "driverinfo.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>

class HttpPost;
class QIODevice;
class QUrl;

// Posts one print job to the cloud print service and reports the answer. The body is streamed to
// the service as the connection takes it, from the job's spool file or from memory, and is sent
// exactly once: a post that fails is reported, never repeated behind the caller's back, since the
// service may already have kept the job. It lives in the thread of the receiver that made it, and
// deletes itself once it has reported.
class Cloud : public QObject
{
    Q_OBJECT
public:
    Cloud(const QString &url, const DriverInfo &driverInfo, QObject *parent = nullptr);
    ~Cloud() override;

    // Posts the job held in memory; false when the URL is unusable, and then nothing is sent and
    // cloudResule never comes.
    bool request(const QByteArray &data, int size, const QString &jobneed);
    // Posts the first `size` bytes of the spool file as the job, read as they are sent, so that even
    // a job of gigabytes costs next to no memory. False, with nothing sent, when the URL is unusable or
    // the file cannot be opened; a file shorter than `size` fails the post before its end is sent.
    bool requestFile(const QString &spoolPath, qint64 size, const QString &jobneed);
    // Ends the post under way; cloudResule (OperationCanceledError) comes before this returns.
    void abort();
    // The post under way, null before one. It finishes (and goes away with this client) whatever
    // the outcome; the caller may wait on it or abort it.
    QNetworkReply *reply() const;

    // Once cloudResule has come: whether every byte of the body went out, so that the service may
    // have the job even when the post failed, and the HTTP status of the answer (0 without one).
    bool bodySent() const { return m_bodySent; }
    int httpStatus() const { return m_httpStatus; }

signals:
    // The document always holds "jobneed" and "jobSize", which ride along locally for the job record
    // and never travel to the service.
    void cloudResule(QNetworkReply::NetworkError error, QJsonDocument jd);

private slots:
    void cloudReceive(QNetworkReply *reply);

private:
    // The request URL, or an invalid one (logged) when m_url is unusable.
    QUrl requestUrl() const;
    // Posts `jobBytes` of `job` (opened for reading, owned by this client) to a URL already checked;
    // false, with nothing sent, when no body can be made of it.
    bool postJob(const QUrl &url, QIODevice *job, qint64 jobBytes);

    QPointer<HttpPost> m_post;
    DriverInfo m_driverInfo;
    QString m_url;
    QString m_jobneed;
    qint64 m_jobSize = 0;
    bool m_bodySent = false;
    int m_httpStatus = 0;
};

#endif // CLOUD_H
