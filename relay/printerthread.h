#ifndef PRINTERTHREAD_H
#define PRINTERTHREAD_H

#include "driverinfo.h"

#include <QString>
#include <QTcpSocket>
#include <QThread>

class JobConnection;
class QFile;

// Serves one connection of the spooler: streams the job into its spool file until the spooler
// closes the connection, puts the file on the disk, and only then closes its own end. Ends with
// exactly one of jobReceived, jobRefused or jobAbandoned. Nothing is posted here: the printer's
// outbox posts received jobs one at a time, in arrival order.
class PrinterThread : public QThread
{
    Q_OBJECT
public:
    PrinterThread(qintptr socketDescriptor, qint64 jobId, const DriverInfo &driverInfo,
        const QString &partialPath, const QString &spoolPath, QObject *parent = nullptr);
    ~PrinterThread() override;

    // A file written through to the disk before the spooler is told the job is ours: the journal
    // that holds the job's entry.
    void setDurabilityFile(const QString &path) { m_durabilityFile = path; }

signals:
    void error(QTcpSocket::SocketError socketError);
    // The whole job is in the spool file, on the disk.
    void jobReceived(qint64 jobId, qint64 size);
    // The job was larger than ProgramWaits::maxJobBytes: read to its end and not kept.
    void jobRefused(qint64 jobId, qint64 size);
    // The connection broke, went silent or the job could not be stored: the connection was reset,
    // so the spooler still has the job; nothing is kept.
    void jobAbandoned(qint64 jobId);

protected:
    void run() override;

private:
    enum class Outcome { Whole, TooLarge, Abandoned };
    Outcome receive(JobConnection &connection, QFile &part);
    bool storeSpoolFile(QFile &part);
    void abandon(JobConnection &connection, QFile &part, const QString &why);

    qintptr m_socketDescriptor;
    qint64 m_jobId;
    DriverInfo m_driverInfo;
    QString m_partialPath;
    QString m_spoolPath;
    QString m_durabilityFile;
    qint64 m_received = 0;
};

#endif // PRINTERTHREAD_H
