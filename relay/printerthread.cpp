#include "printerthread.h"

#include "cloud.h"
#include "relaysettings.h"

#include <QDebug>
#include <QEventLoop>
#include <QJsonObject>
#include <QMutex>
#include <QTimer>
#include <QUrl>

#include <limits>

PrinterThread::PrinterThread(qintptr socketDescriptor, const DriverInfo &driverInfo,
    const QString &jobDescription, std::shared_ptr<QMutex> mutex, QObject *parent)
    : QThread(parent)
    , m_socketDescriptor(socketDescriptor)
    , m_driverInfo(driverInfo)
    , m_body(driverInfo.cloud_sn)
    , m_jobDescription(jobDescription)
    , m_mutex(std::move(mutex))
{
    qDebug() << "12_PrinterThread init" << QThread::currentThread();
}

PrinterThread::~PrinterThread()
{
    qDebug().noquote() << "18_PrinterThread" << QThread::currentThread()
                       << QStringLiteral("%1 printComplete").arg(m_driverInfo.cloud_sn);
}

void PrinterThread::setExpectedJobBytes(qint64 bytes)
{
    m_expectedBytes = bytes;
}

void PrinterThread::run()
{
    QTcpSocket *socket = new QTcpSocket;
    if (!socket->setSocketDescriptor(
            m_socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite)) {
        qCritical() << "25_PrinterThread" << QThread::currentThread() << socket->errorString();
        emit error(socket->error());
        delete socket;
        reportUnposted(QNetworkReply::UnknownNetworkError);
        return;
    }

    const QString urlText = cloudServiceBase() + QStringLiteral("/v1.1/transparentPrinting");
    const QUrl url = QUrl::fromUserInput(urlText);
    if (urlText.isEmpty() || !url.isValid()) {
        qDebug() << "38_PrinterThread" << QThread::currentThread() << "Invalid url: " << url;
        socket->deleteLater();
        reportUnposted(QNetworkReply::ProtocolUnknownError);
        return;
    }

    // A job the spooler announced gets its whole body at once. Memory short of that is no reason
    // to give up yet: the body grows as the bytes come.
    if (m_expectedBytes > 0 && m_expectedBytes <= maxJobBytes())
        m_body.reserveFor(m_expectedBytes);

    m_cloud = new Cloud(urlText, m_driverInfo);
    connect(
        m_cloud, &Cloud::cloudResule, m_cloud,
        [this](QNetworkReply::NetworkError error, const QJsonDocument &jd) {
            m_mutex->unlock();
            emit cloudResult(error, jd);
        },
        Qt::DirectConnection);
    connect(
        socket, &QTcpSocket::readyRead, socket, [this, socket] { collect(socket); }, Qt::DirectConnection);
    connect(
        socket, &QTcpSocket::disconnected, socket, [this, socket] { onSocketDisconnected(socket); },
        Qt::DirectConnection);

    // The job is collected and posted from within this wait.
    socket->waitForDisconnected(jobReceiveTimeoutMs());

    if (!m_completed) {
        // The spooler kept the connection open too long: what came so far may be a torn job, so it
        // is not posted, but the card still hears of it and frees the port for the next job.
        m_completed = true;
        qDebug().noquote() << "93_PrinterThread" << QThread::currentThread()
                           << QStringLiteral("connection still open after %1 ms, %2 bytes not posted")
                                  .arg(jobReceiveTimeoutMs())
                                  .arg(m_received);
        // Tearing the socket down would report a disconnection; it must not post the job after all.
        socket->disconnect();
        m_body.clear();
        if (m_cloud)
            m_cloud->deleteLater();
        reportUnposted(QNetworkReply::TimeoutError);
    }

    socket->deleteLater();
    qDebug() << "92_PrinterThread" << QThread::currentThread() << "run finished";
}

void PrinterThread::collect(QTcpSocket *socket)
{
    // Read in slices that stay in the cache while they are encoded.
    char slice[64 * 1024];
    for (;;) {
        const qint64 n = socket->read(slice, qint64(sizeof slice));
        if (n <= 0)
            return;
        m_received += n;
        if (m_tooLarge)
            continue;
        if (m_received > maxJobBytes()) {
            dropJob(
                QStringLiteral("job larger than %1 bytes, reading it to its end unkept").arg(maxJobBytes()));
        } else if (!m_body.append(slice, n)) {
            dropJob(QStringLiteral("no memory for the body after %1 bytes, reading the job to its end unkept")
                        .arg(m_received));
        }
    }
}

void PrinterThread::dropJob(const QString &why)
{
    m_tooLarge = true;
    m_body.clear();
    qDebug().noquote() << "61_PrinterThread" << QThread::currentThread() << why;
}

void PrinterThread::onSocketDisconnected(QTcpSocket *socket)
{
    if (m_completed)
        return;
    m_completed = true;
    collect(socket);

    if (m_tooLarge) {
        qDebug().noquote() << "64_PrinterThread" << QThread::currentThread()
                           << QStringLiteral("%1, job of %2 bytes too large, not posted")
                                  .arg(m_driverInfo.printer_name)
                                  .arg(m_received);
        m_cloud->deleteLater();
        reportUnposted(QNetworkReply::UnknownContentError);
        return;
    }

    m_mutex->lock();
    qDebug().noquote()
        << "59_PrinterThread" << QThread::currentThread()
        << QStringLiteral("%1, port: %2 disconnect").arg(m_driverInfo.printer_name).arg(socket->localPort());

    // The body moves on to the client; the manager keeps the one copy until the post is done.
    const bool posted = m_cloud->requestBody(m_body.finish(), jobSize(), m_jobDescription);
    if (!posted) {
        // The URL passed the same check in run(), so only a body that could not be finished lands here.
        m_mutex->unlock();
        m_cloud->deleteLater();
        reportUnposted(QNetworkReply::UnknownContentError);
        return;
    }
    waitForReply();
}

void PrinterThread::waitForReply()
{
    // The client deletes itself and its reply once it has reported, possibly inside the loop below.
    QPointer<QNetworkReply> reply = m_cloud->reply();
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    timer.start(cloudReplyTimeoutMs());
    if (!reply->isFinished())
        loop.exec();

    if (!timer.isActive() && reply && !reply->isFinished()) {
        disconnect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        // Aborting finishes the reply, so the client still reports (an error) and the lock is freed.
        reply->abort();
        reply->deleteLater();
        qDebug() << "86_PrinterThread" << QThread::currentThread() << "Timeout occur";
    } else {
        timer.stop();
    }
}

void PrinterThread::reportUnposted(QNetworkReply::NetworkError error)
{
    QJsonObject object;
    object.insert(QStringLiteral("jobneed"), m_jobDescription);
    object.insert(QStringLiteral("jobSize"), jobSize());
    qDebug().noquote()
        << "66_PrinterThread" << QThread::currentThread()
        << QStringLiteral("%1 job not posted, error %2").arg(m_driverInfo.printer_name).arg(int(error));
    emit cloudResult(error, QJsonDocument(object));
}

qint32 PrinterThread::jobSize() const
{
    return qint32(qMin<qint64>(m_received, std::numeric_limits<qint32>::max()));
}
