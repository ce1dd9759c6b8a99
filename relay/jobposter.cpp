#include "jobposter.h"

#include "cloud.h"
#include "cloudprotocol.h"
#include "programwaits.h"
#include "spoolfile.h"

#include <QDebug>
#include <QPointer>
#include <QUrl>

JobPoster::JobPoster(qint64 jobId, const DriverInfo &driverInfo, const QString &spoolPath, qint64 size,
    const QString &jobneed, QObject *parent)
    : QThread(parent)
    , m_jobId(jobId)
    , m_driverInfo(driverInfo)
    , m_spoolPath(spoolPath)
    , m_size(size)
    , m_jobneed(jobneed)
{
}

JobPoster::~JobPoster()
{
    qDebug() << "JobPoster destruct, job" << m_jobId;
}

void JobPoster::stop()
{
    requestInterruption();
    quit();
}

void JobPoster::run()
{
    const QString urlText = printUrl(ProgramWaits::current().cloudServiceBase);
    const QUrl url = QUrl::fromUserInput(urlText);
    if (urlText.isEmpty() || !url.isValid()) {
        qDebug() << "38_JobPoster" << QThread::currentThread() << "Invalid url: " << url;
        emit posted(m_jobId, QNetworkReply::ProtocolUnknownError,
            printResultDocument(QJsonDocument(), m_jobneed, m_size), 0, false);
        return;
    }

    if (!m_durabilityFile.isEmpty() && !syncFileToDisk(m_durabilityFile)) {
        qCritical().noquote() << "38_JobPoster cannot write the journal through to the disk"
                              << m_durabilityFile;
        emit posted(m_jobId, QNetworkReply::ProtocolUnknownError,
            printResultDocument(QJsonDocument(), m_jobneed, m_size), 0, false);
        return;
    }
    QPointer<Cloud> cloud = new Cloud(urlText, m_driverInfo);
    QNetworkReply::NetworkError error = QNetworkReply::OperationCanceledError;
    QJsonDocument document = printResultDocument(QJsonDocument(), m_jobneed, m_size);
    int status = 0;
    bool bodySent = false;
    bool reported = false;
    // Runs in this thread, before the client schedules its own deletion.
    connect(
        cloud, &Cloud::cloudResule, cloud,
        [&](QNetworkReply::NetworkError e, const QJsonDocument &jd) {
            error = e;
            document = jd;
            status = cloud->httpStatus();
            bodySent = cloud->bodySent();
            reported = true;
            quit();
        },
        Qt::DirectConnection);
    if (!cloud->requestFile(m_spoolPath, m_size, m_jobneed)) {
        delete cloud;
        emit posted(m_jobId, QNetworkReply::ProtocolUnknownError, document, 0, false);
        return;
    }
    // Told in whole percents only, so that a fast upload does not flood the window's thread.
    int percentTold = -1;
    connect(
        cloud->reply(), &QNetworkReply::uploadProgress, cloud,
        [&](qint64 sent, qint64 total) {
            const int percent = total > 0 ? int(qBound<qint64>(0, sent * 100 / total, 100)) : 0;
            if (percent == percentTold)
                return;
            percentTold = percent;
            emit uploadProgress(m_jobId, percent);
        },
        Qt::DirectConnection);
    if (!isInterruptionRequested())
        exec();
    // Stopped from outside: the post ends here, and the client reports it (cancelled) at once.
    if (!reported && cloud)
        cloud->abort();
    delete cloud;
    emit posted(m_jobId, error, document, status, bodySent);
}
