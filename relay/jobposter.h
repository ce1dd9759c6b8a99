#ifndef JOBPOSTER_H
#define JOBPOSTER_H

#include "driverinfo.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QString>
#include <QThread>

// Posts one spooled job to the cloud print service, in a thread of its own so that neither the
// upload nor the answer's parsing holds the window, and reports how it went. The body streams
// from the spool file; the post is sent once, whatever happens to the connection.
class JobPoster : public QThread
{
    Q_OBJECT
public:
    JobPoster(qint64 jobId, const DriverInfo &driverInfo, const QString &spoolPath, qint64 size,
        const QString &jobneed, QObject *parent = nullptr);
    ~JobPoster() override;

    // Ends the post under way (it reports OperationCanceledError) and the thread with it.
    void stop();
    // A file written through to the disk before anything is sent: the journal that says the post
    // began, so that no restart can send the job a second time.
    void setDurabilityFile(const QString &path) { m_durabilityFile = path; }

signals:
    // `bodySent`: every byte of the post went out, so the service may have the job.
    void posted(
        qint64 jobId, QNetworkReply::NetworkError error, QJsonDocument jd, int httpStatus, bool bodySent);
    // The share of the post's body sent went up to `percent` (0 to 100).
    void uploadProgress(qint64 jobId, int percent);

protected:
    void run() override;

private:
    qint64 m_jobId;
    DriverInfo m_driverInfo;
    QString m_spoolPath;
    qint64 m_size;
    QString m_jobneed;
    QString m_durabilityFile;
};

#endif // JOBPOSTER_H
