#include "printerthread.h"

#include "jobconnection.h"
#include "programwaits.h"
#include "spoolfile.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QFile>

namespace {
// Short enough that a closing program is not kept waiting by a quiet spooler.
constexpr int kWaitSliceMs = 200;
constexpr qint64 kReadSlice = 256 * 1024;
} // namespace

PrinterThread::PrinterThread(qintptr socketDescriptor, qint64 jobId, const DriverInfo &driverInfo,
    const QString &partialPath, const QString &spoolPath, QObject *parent)
    : QThread(parent)
    , m_socketDescriptor(socketDescriptor)
    , m_jobId(jobId)
    , m_driverInfo(driverInfo)
    , m_partialPath(partialPath)
    , m_spoolPath(spoolPath)
{
    qDebug() << "12_PrinterThread init" << QThread::currentThread();
}

PrinterThread::~PrinterThread()
{
    qDebug().noquote() << "18_PrinterThread" << QThread::currentThread()
                       << QStringLiteral("%1 printComplete").arg(m_driverInfo.cloud_sn);
}

void PrinterThread::run()
{
    JobConnection connection(m_socketDescriptor);
    if (!connection.isValid()) {
        qCritical() << "25_PrinterThread" << QThread::currentThread()
                    << "the connection cannot be taken over";
        emit error(QAbstractSocket::SocketResourceError);
        emit jobAbandoned(m_jobId);
        return;
    }
    QFile part(m_partialPath);
    if (!part.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        abandon(
            connection, part, QStringLiteral("cannot write %1: %2").arg(m_partialPath, part.errorString()));
        return;
    }

    const Outcome outcome = receive(connection, part);
    if (outcome == Outcome::Abandoned)
        return;
    qDebug().noquote() << "59_PrinterThread" << QThread::currentThread()
                       << QStringLiteral("%1, port: %2 disconnect")
                              .arg(m_driverInfo.printer_name)
                              .arg(connection.localPort());
    if (outcome == Outcome::TooLarge) {
        part.close();
        QFile::remove(m_partialPath);
        // The spooler forgets the job once closed in order; the record of its refusal must stay.
        if (!m_durabilityFile.isEmpty())
            syncFileToDisk(m_durabilityFile);
        connection.close();
        qDebug().noquote() << "64_PrinterThread" << QThread::currentThread()
                           << QStringLiteral("%1, job of %2 bytes too large, not posted")
                                  .arg(m_driverInfo.printer_name)
                                  .arg(m_received);
        emit jobRefused(m_jobId, m_received);
        return;
    }
    if (!storeSpoolFile(part)) {
        abandon(connection, part, QStringLiteral("cannot store the job of %1 bytes").arg(m_received));
        return;
    }
    connection.close();
    qDebug() << "92_PrinterThread" << QThread::currentThread() << "run finished," << m_received << "bytes";
    emit jobReceived(m_jobId, m_received);
}

PrinterThread::Outcome PrinterThread::receive(JobConnection &connection, QFile &part)
{
    // Read once: the waits do not change under a job being received.
    const ProgramWaits waits = ProgramWaits::current();
    QByteArray slice(int(kReadSlice), Qt::Uninitialized);
    bool tooLarge = false;
    QElapsedTimer silence;
    silence.start();
    for (;;) {
        if (isInterruptionRequested()) {
            abandon(connection, part, QStringLiteral("the program is closing"));
            return Outcome::Abandoned;
        }
        const JobConnection::Wait wait = connection.waitReadable(kWaitSliceMs);
        if (wait == JobConnection::Wait::Failed) {
            abandon(connection, part, connection.errorString());
            return Outcome::Abandoned;
        }
        if (wait == JobConnection::Wait::Silent) {
            if (silence.hasExpired(waits.jobReceiveTimeoutMs)) {
                abandon(connection, part,
                    QStringLiteral("93_PrinterThread no byte for %1 ms after %2 bytes")
                        .arg(waits.jobReceiveTimeoutMs)
                        .arg(m_received));
                return Outcome::Abandoned;
            }
            continue;
        }
        const qint64 n = connection.receive(slice.data(), slice.size());
        if (n == -2)
            continue;
        if (n < 0) {
            abandon(connection, part, connection.errorString());
            return Outcome::Abandoned;
        }
        if (n == 0)
            return tooLarge ? Outcome::TooLarge : Outcome::Whole;
        silence.restart();
        m_received += n;
        if (tooLarge)
            continue;
        if (m_received > waits.maxJobBytes) {
            tooLarge = true;
            qDebug().noquote() << "61_PrinterThread" << QThread::currentThread()
                               << QStringLiteral("job larger than %1 bytes, reading it to its end unkept")
                                      .arg(waits.maxJobBytes);
            part.resize(0);
            continue;
        }
        if (part.write(slice.constData(), n) != n) {
            abandon(connection, part,
                QStringLiteral("cannot write %1: %2").arg(m_partialPath, part.errorString()));
            return Outcome::Abandoned;
        }
    }
}

bool PrinterThread::storeSpoolFile(QFile &part)
{
    const bool synced = syncToDisk(part);
    part.close();
    if (!synced || !publishSpoolFile(m_partialPath, m_spoolPath))
        return false;
    // The job's entry, committed when the connection was taken, must outlive a power cut as well.
    if (!m_durabilityFile.isEmpty() && !syncFileToDisk(m_durabilityFile)) {
        qCritical().noquote() << "spool: cannot write the journal through to the disk" << m_durabilityFile;
        return false;
    }
    return true;
}

void PrinterThread::abandon(JobConnection &connection, QFile &part, const QString &why)
{
    connection.abort();
    part.close();
    QFile::remove(m_partialPath);
    qDebug().noquote() << "66_PrinterThread" << QThread::currentThread()
                       << QStringLiteral("%1: job given back to the spooler after %2 bytes: %3")
                              .arg(m_driverInfo.printer_name)
                              .arg(m_received)
                              .arg(why);
    emit jobAbandoned(m_jobId);
}
