#include "printerserver.h"

#include "exclusivelistener.h"
#include "jobconnection.h"
#include "jobdescription.h"
#include "outboxjournal.h"
#include "peercheck.h"
#include "printeroutbox.h"
#include "printerthread.h"
#include "threadlifetime.h"

#include <QDebug>
#include <QTimer>

#include <utility>

namespace {

constexpr int kListenRetryMs = 5000;
// After the system ran out of descriptors (or any other accept failure), accepting pauses for
// this long instead of spinning on a connection it cannot take.
constexpr int kAcceptResumeMs = 200;
// Connections are checked in batches, one at a time; while one is checked at most this many more
// are taken from the system's queue, so that a flood never holds more descriptors than that.
constexpr int kCheckBatch = 64;

// Receivers running for all printers together (GUI thread only).
int g_receivingInAll = 0;

} // namespace

PrinterServer::PrinterServer(const DriverInfo &driverInfo, QObject *parent)
    : PrinterServer(driverInfo, OutboxJournal::instance(), parent)
{
}

PrinterServer::PrinterServer(const DriverInfo &driverInfo, OutboxJournal *journal, QObject *parent)
    : QTcpServer(parent)
    , m_driverInfo(driverInfo)
    , m_journal(journal)
    , m_outbox(new PrinterOutbox(driverInfo, journal, this))
    , m_listenRetry(new QTimer(this))
{
    m_listenRetry->setInterval(kListenRetryMs);
    connect(m_listenRetry, &QTimer::timeout, this, [this] {
        if (tryListen())
            setPortTaken(false);
    });
    connect(this, &QTcpServer::acceptError, this, &PrinterServer::onAcceptError);
    // Results cross into the GUI thread queued; string-based connections look the types up by name.
    qRegisterMetaType<QNetworkReply::NetworkError>("QNetworkReply::NetworkError");
    qRegisterMetaType<QJsonDocument>("QJsonDocument");
    connect(this, &PrinterServer::portBusy, this, &PrinterServer::on_PortBusy);
    connect(m_outbox, &PrinterOutbox::cloudResult, this, &PrinterServer::cloudResule);
    connect(m_outbox, &PrinterOutbox::waitingForRetry, this, &PrinterServer::postWaiting);
    // The port counts as busy from the moment a job is taken up until the card reports its end.
    connect(m_outbox, &PrinterOutbox::jobStarted, this, [this] { emit portBusy(true); });
}

PrinterServer::~PrinterServer()
{
    // A receiver still reading resets its connection, so the spooler keeps that job.
    for (PrinterThread *receiver : qAsConst(m_receivers)) {
        disconnect(receiver, nullptr, this, nullptr);
        receiver->requestInterruption();
    }
    g_receivingInAll -= m_receivers.size();
    for (qintptr descriptor : qAsConst(m_unchecked))
        refuse(descriptor);
    qDebug().noquote() << m_driverInfo.printer_name << "18_PrinterServer destruct";
}

void PrinterServer::start()
{
    m_port = m_driverInfo.port_num;
    if (tryListen())
        return;
    setPortTaken(true);
    m_listenRetry->start();
}

void PrinterServer::stop()
{
    m_listenRetry->stop();
    close();
}

bool PrinterServer::tryListen()
{
    QString error;
    const qintptr listener = listenExclusively(m_port, &error);
    if (listener < 0 || !setSocketDescriptor(listener)) {
        if (listener >= 0)
            JobConnection(listener).abort();
        // Said once; the retries every few seconds would fill the log.
        if (!m_portTaken) {
            qCritical("listen ip: %s port: %d, failed", "127.0.0.1", int(m_port));
            qCritical().noquote() << error;
        }
        return false;
    }
    m_listenRetry->stop();
    return true;
}

void PrinterServer::setPortTaken(bool taken)
{
    if (m_portTaken == taken)
        return;
    m_portTaken = taken;
    qWarning().noquote() << m_driverInfo.printer_name
                         << (taken ? QStringLiteral(
                                 "port %1 is held by another program; trying again every 5 s")
                                   : QStringLiteral("listening on port %1 again"))
                                .arg(m_port);
    emit portTaken(taken);
}

void PrinterServer::onAcceptError(QAbstractSocket::SocketError error)
{
    // Qt stops accepting after such a failure; a listener that never resumed would end printing.
    qWarning().noquote() << m_driverInfo.printer_name << "accept failed:" << int(error) << errorString();
    QTimer::singleShot(kAcceptResumeMs, this, [this] {
        if (isListening())
            resumeAccepting();
    });
}

void PrinterServer::recover()
{
    m_outbox->recover();
}

void PrinterServer::on_PortBusy(bool isbusy)
{
    qDebug() << "51_PrinterServer PortBusy:" << isbusy;
    m_portBusy = isbusy;
    // The card frees the port once the job is over; without a record of its own it has no result.
    if (!isbusy)
        m_outbox->finishCurrent(QString());
}

void PrinterServer::onDriverInfoChanged(DriverInfo info)
{
    qDebug() << "43_PrinterServer driver info change";
    m_outbox->setDriverInfo(info);
    m_driverInfo = info;
}

void PrinterServer::onJobRecorded(QString result)
{
    m_outbox->finishCurrent(result);
}

void PrinterServer::incomingConnection(qintptr socketDescriptor)
{
    m_pendingDescriptor = socketDescriptor;
    qDebug() << "24_PrinterServer incomingConnection" << socketDescriptor << ";port_busy=" << m_portBusy;
    m_unchecked.append(socketDescriptor);
    if (m_unchecked.size() >= kCheckBatch) {
        // Until the check in hand is done the rest wait in the system's queue: a flood never holds
        // more descriptors than this.
        m_acceptingPaused = true;
        pauseAccepting();
    }
    if (!m_checkScheduled) {
        m_checkScheduled = true;
        QMetaObject::invokeMethod(this, &PrinterServer::checkPeers, Qt::QueuedConnection);
    }
}

void PrinterServer::checkPeers()
{
    m_checkScheduled = false;
    // One check at a time, so that the spooler's connections are admitted in the order they came.
    if (m_checking || m_unchecked.isEmpty())
        return;
    m_checking = true;
    PeerCheck *check
        = PeerCheck::start(this, m_driverInfo.printer_name, serverPort(), std::exchange(m_unchecked, {}));
    connect(check, &PeerCheck::checked, this, &PrinterServer::onPeersChecked);
}

void PrinterServer::onPeersChecked(const QVector<qintptr> &admitted)
{
    m_checking = false;
    for (qintptr descriptor : admitted)
        admit(descriptor);
    if (m_acceptingPaused) {
        m_acceptingPaused = false;
        resumeAccepting();
    }
    checkPeers();
}

void PrinterServer::admit(qintptr socketDescriptor)
{
    if (m_receivers.size() >= kMaxReceiving || g_receivingInAll >= kMaxReceivingInAll) {
        // The spooler tries the job again later; it keeps it meanwhile.
        qWarning().noquote() << m_driverInfo.printer_name
                             << QStringLiteral(
                                    "too many connections at once (%1 of this printer, %2 in all); "
                                    "connection refused")
                                    .arg(m_receivers.size())
                                    .arg(g_receivingInAll);
        refuse(socketDescriptor);
        return;
    }
    // Read now, while it is the job the spooler is printing: a later look may find the next one.
    const QString description = currentJobDescription(m_driverInfo.printer_name);
    const qint64 jobId = m_journal->addJob(m_driverInfo.printer_name, m_driverInfo.cloud_sn, description);
    if (jobId == 0) {
        // Without its journal entry a job could be lost unseen; the spooler keeps it instead.
        qCritical().noquote() << m_driverInfo.printer_name << "cannot journal a job; connection refused";
        refuse(socketDescriptor);
        return;
    }
    m_outbox->addArriving(jobId);
    auto *receiver = new PrinterThread(socketDescriptor, jobId, m_driverInfo,
        m_journal->partialSpoolFilePath(jobId), m_journal->spoolFilePath(jobId));
    receiver->setDurabilityFile(m_journal->durabilityFile());
    m_receivers.insert(receiver);
    ++g_receivingInAll;
    deleteWhenEnded(receiver);
    connect(receiver, &PrinterThread::jobReceived, this,
        [this, receiver](qint64 id, qint64 size) { onJobReceived(receiver, id, size); });
    connect(receiver, &PrinterThread::jobRefused, this,
        [this, receiver](qint64 id, qint64 size) { onJobRefused(receiver, id, size); });
    connect(receiver, &PrinterThread::jobAbandoned, this,
        [this, receiver](qint64 id) { onJobAbandoned(receiver, id); });
    receiver->start(QThread::InheritPriority);
}

void PrinterServer::forgetReceiver(PrinterThread *receiver)
{
    if (m_receivers.remove(receiver))
        --g_receivingInAll;
}

void PrinterServer::onJobReceived(PrinterThread *receiver, qint64 jobId, qint64 size)
{
    forgetReceiver(receiver);
    m_journal->setReceived(jobId, size);
    m_outbox->addReceived(jobId);
}

void PrinterServer::onJobRefused(PrinterThread *receiver, qint64 jobId, qint64 size)
{
    forgetReceiver(receiver);
    // Recorded like any job, so that the user learns why it did not print.
    m_journal->setReceived(jobId, size);
    m_outbox->addRefused(jobId);
}

void PrinterServer::onJobAbandoned(PrinterThread *receiver, qint64 jobId)
{
    forgetReceiver(receiver);
    m_journal->removeJob(jobId);
    m_outbox->dropArriving(jobId);
}

void PrinterServer::refuse(qintptr socketDescriptor)
{
    JobConnection(socketDescriptor).abort();
}
