#ifndef PRINTERSERVER_H
#define PRINTERSERVER_H

#include "driverinfo.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QSet>
#include <QTcpServer>

class OutboxJournal;
class PrinterOutbox;
class PrinterThread;

// Listens on a cloud printer's loopback port for the spooler's job connections. Every connection is
// taken at once: its job gets a journal entry (with the description of the job the spooler is
// printing at that moment) and a receiver that streams it into a spool file. Received jobs go to
// the printer's outbox, which posts and has them followed one at a time, in arrival order.
class PrinterServer : public QTcpServer
{
    Q_OBJECT
public:
    // With the program's own journal, or with `journal` (not owned; outlives the server).
    explicit PrinterServer(const DriverInfo &driverInfo, QObject *parent = nullptr);
    PrinterServer(const DriverInfo &driverInfo, OutboxJournal *journal, QObject *parent = nullptr);
    ~PrinterServer() override;

    // Takes up the printer's unfinished jobs from the journal. Call once the card is wired.
    void recover();
    PrinterOutbox *outbox() const { return m_outbox; }
    const DriverInfo &driverInfo() const { return m_driverInfo; }

signals:
    // A job's post result or recovered state, for the card (emitted in the GUI thread).
    void cloudResule(QNetworkReply::NetworkError error, QJsonDocument jd);
    void portBusy(bool isbusy);
    // The current job waits to be posted again ("等待重试").
    void postWaiting(bool waiting);

public slots:
    void on_PortBusy(bool isbusy);
    void onDriverInfoChanged(DriverInfo info);
    // The card recorded the current job with this result: the next job may go.
    void onJobRecorded(QString result);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    void onJobReceived(PrinterThread *receiver, qint64 jobId, qint64 size);
    void onJobRefused(PrinterThread *receiver, qint64 jobId, qint64 size);
    void onJobAbandoned(PrinterThread *receiver, qint64 jobId);
    static void refuse(qintptr socketDescriptor);

    DriverInfo m_driverInfo;
    OutboxJournal *m_journal;
    PrinterOutbox *m_outbox;
    bool m_portBusy = false;
    qintptr m_pendingDescriptor = -1;
    // Receivers still running; told to stop when the server goes.
    QSet<PrinterThread *> m_receivers;
};

#endif // PRINTERSERVER_H
