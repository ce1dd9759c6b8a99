#ifndef PRINTERSERVER_H
#define PRINTERSERVER_H

#include "driverinfo.h"

#include <QJsonDocument>
#include <QNetworkReply>
#include <QSet>
#include <QTcpServer>
#include <QVector>

class OutboxJournal;
class PrinterOutbox;
class PrinterThread;
class QTimer;

// Listens on a cloud printer's loopback port for the spooler's job connections. Only the spooler
// may print: a connection whose other end belongs to any other process is reset unread. Every
// spooler connection is taken at once, up to a bound: its job gets a journal entry (with the
// description of the job the spooler is printing at that moment) and a receiver that streams it
// into a spool file. Received jobs go to the printer's outbox, which posts and has them followed
// one at a time, in arrival order.
class PrinterServer : public QTcpServer
{
    Q_OBJECT
public:
    // With the program's own journal, or with `journal` (not owned; outlives the server).
    explicit PrinterServer(const DriverInfo &driverInfo, QObject *parent = nullptr);
    PrinterServer(const DriverInfo &driverInfo, OutboxJournal *journal, QObject *parent = nullptr);
    ~PrinterServer() override;

    // Listens on the printer's port, which no other socket may share. While another program
    // holds the port, tries again every few seconds; portTaken tells when that starts and ends.
    void start();
    // Stops listening for good (the printer is gone).
    void stop();
    bool isPortTaken() const { return m_portTaken; }

    // Takes up the printer's unfinished jobs from the journal. Call once the card is wired.
    void recover();

    // Connections of one printer, and of all printers, that may be received at the same time.
    static constexpr int kMaxReceiving = 8;
    static constexpr int kMaxReceivingInAll = 64;
    PrinterOutbox *outbox() const { return m_outbox; }
    const DriverInfo &driverInfo() const { return m_driverInfo; }

signals:
    // A job's post result or recovered state, for the card (emitted in the GUI thread).
    void cloudResule(QNetworkReply::NetworkError error, QJsonDocument jd);
    void portBusy(bool isbusy);
    // The current job waits to be posted again ("等待重试").
    void postWaiting(bool waiting);
    // Another program holds the printer's port (true) or the server has it again (false).
    void portTaken(bool taken);

public slots:
    void on_PortBusy(bool isbusy);
    void onDriverInfoChanged(DriverInfo info);
    // The card recorded the current job with this result: the next job may go.
    void onJobRecorded(QString result);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    bool tryListen();
    void onAcceptError(QAbstractSocket::SocketError error);
    void setPortTaken(bool taken);
    // Serves the connections accepted since the last check: the spooler's are admitted, others
    // reset. One look at the connection table serves them all.
    void checkPeers();
    void onPeersChecked(const QVector<qintptr> &admitted);
    void admit(qintptr socketDescriptor);
    void forgetReceiver(PrinterThread *receiver);
    void onJobReceived(PrinterThread *receiver, qint64 jobId, qint64 size);
    void onJobRefused(PrinterThread *receiver, qint64 jobId, qint64 size);
    void onJobAbandoned(PrinterThread *receiver, qint64 jobId);
    static void refuse(qintptr socketDescriptor);

    DriverInfo m_driverInfo;
    OutboxJournal *m_journal;
    PrinterOutbox *m_outbox;
    bool m_portBusy = false;
    bool m_portTaken = false;
    quint16 m_port = 0;
    qintptr m_pendingDescriptor = -1;
    QTimer *m_listenRetry;
    QVector<qintptr> m_unchecked;
    bool m_checkScheduled = false;
    // A check runs in the pool; the next batch waits for it.
    bool m_checking = false;
    bool m_acceptingPaused = false;
    // Receivers still running; told to stop when the server goes.
    QSet<PrinterThread *> m_receivers;
};

#endif // PRINTERSERVER_H
