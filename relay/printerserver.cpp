#include "printerserver.h"

#include "jobconnection.h"
#include "jobdescription.h"
#include "outboxjournal.h"
#include "printeroutbox.h"
#include "printerthread.h"

#include <QDebug>

PrinterServer::PrinterServer(const DriverInfo &driverInfo, QObject *parent)
    : PrinterServer(driverInfo, OutboxJournal::instance(), parent)
{
}

PrinterServer::PrinterServer(const DriverInfo &driverInfo, OutboxJournal *journal, QObject *parent)
    : QTcpServer(parent)
    , m_driverInfo(driverInfo)
    , m_journal(journal)
    , m_outbox(new PrinterOutbox(driverInfo, journal, this))
{
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
    qDebug().noquote() << m_driverInfo.printer_name << "18_PrinterServer destruct";
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
    m_receivers.insert(receiver);
    connect(receiver, &QThread::finished, receiver, &QObject::deleteLater);
    connect(receiver, &PrinterThread::jobReceived, this,
        [this, receiver](qint64 id, qint64 size) { onJobReceived(receiver, id, size); });
    connect(receiver, &PrinterThread::jobRefused, this,
        [this, receiver](qint64 id, qint64 size) { onJobRefused(receiver, id, size); });
    connect(receiver, &PrinterThread::jobAbandoned, this,
        [this, receiver](qint64 id) { onJobAbandoned(receiver, id); });
    receiver->start(QThread::InheritPriority);
}

void PrinterServer::onJobReceived(PrinterThread *receiver, qint64 jobId, qint64 size)
{
    m_receivers.remove(receiver);
    m_journal->setReceived(jobId, size);
    m_outbox->addReceived(jobId);
}

void PrinterServer::onJobRefused(PrinterThread *receiver, qint64 jobId, qint64 size)
{
    m_receivers.remove(receiver);
    // Recorded like any job, so that the user learns why it did not print.
    m_journal->setReceived(jobId, size);
    m_outbox->addRefused(jobId);
}

void PrinterServer::onJobAbandoned(PrinterThread *receiver, qint64 jobId)
{
    m_receivers.remove(receiver);
    m_journal->removeJob(jobId);
    m_outbox->dropArriving(jobId);
}

void PrinterServer::refuse(qintptr socketDescriptor)
{
    JobConnection(socketDescriptor).abort();
}
