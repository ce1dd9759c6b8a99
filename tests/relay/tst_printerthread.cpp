#include "descriptorserver.h"
#include "filebytes.h"
#include "logcapture.h"
#include "printerthread.h"
#include "scopedprogramwaits.h"
#include "testprinters.h"
#include "testtiming.h"

#include <QFile>
#include <QHostAddress>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/socket.h>

namespace {
const QString kSerial = QStringLiteral("00AB00CD00EF0012");
const qint64 kJobId = 41;

DriverInfo printer()
{
    DriverInfo info;
    info.printer_name = QStringLiteral("Front Desk");
    info.cloud_sn = kSerial;
    info.port_name = QStringLiteral("REDadez_9101");
    info.port_num = 9101;
    info.driver_name = TestPrinters::driverName();
    info.ip = QStringLiteral("127.0.0.1");
    return info;
}

QByteArray patternedJob(int size)
{
    QByteArray job(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        job[i] = char((i * 31 + i / 251) & 0xff);
    return job;
}

} // namespace

// The receiver on its own: a loopback peer plays the spooler, the spool folder is a temporary one.
class TestPrinterThread : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void jobInManyPiecesIsStoredWholeBeforeTheClose();
    void emptyJobIsAJobOfNoBytes();
    void slowSpoolerIsReadToItsEnd();
    void silentConnectionIsResetAndNothingKept();
    void spoolerThatResetsMidJobKeepsIt();
    void oversizedJobIsReadToItsEndAndRefused();
    void unusableDescriptorIsAbandoned();
    void unwritableSpoolFolderResetsTheConnection();
    void interruptedReceiverGivesTheJobBack();
    void journalWrittenThroughBeforeTheSpoolerIsTold();

private:
    // Connects `client` to the loopback listener and starts a receiver on the accepted connection.
    QPointer<PrinterThread> startReceiver(QTcpSocket &client);
    void sendInPieces(QTcpSocket &client, const QByteArray &job, int pieces);

    DescriptorServer *m_listener = nullptr;
    QTemporaryDir *m_spool = nullptr;
    QSignalSpy *m_received = nullptr;
    QSignalSpy *m_refused = nullptr;
    QSignalSpy *m_abandoned = nullptr;
    QString m_partial;
    QString m_final;
    QString m_durabilityFile;
};

void TestPrinterThread::initTestCase()
{
    qRegisterMetaType<qintptr>("qintptr");
}

void TestPrinterThread::init()
{
    m_listener = new DescriptorServer(this);
    QVERIFY(m_listener->listen(QHostAddress::LocalHost, 0));
    m_spool = new QTemporaryDir;
    QVERIFY(m_spool->isValid());
    m_partial = m_spool->filePath(QStringLiteral("41.part"));
    m_final = m_spool->filePath(QStringLiteral("41.job"));
    m_durabilityFile.clear();
}

void TestPrinterThread::cleanup()
{
    delete m_received;
    delete m_refused;
    delete m_abandoned;
    m_received = m_refused = m_abandoned = nullptr;
    delete m_spool;
    delete m_listener;
}

QPointer<PrinterThread> TestPrinterThread::startReceiver(QTcpSocket &client)
{
    QSignalSpy accepted(m_listener, &DescriptorServer::accepted);
    client.connectToHost(QHostAddress::LocalHost, m_listener->serverPort());
    if (!accepted.wait(TestTiming::scaled(15000)) || !client.waitForConnected())
        return nullptr;
    const qintptr descriptor = accepted.takeFirst().at(0).value<qintptr>();
    auto *receiver = new PrinterThread(descriptor, kJobId, printer(), m_partial, m_final);
    receiver->setDurabilityFile(m_durabilityFile);
    connect(receiver, &QThread::finished, receiver, &QObject::deleteLater);
    // A case may start a second receiver: the spies follow the newest.
    delete m_received;
    delete m_refused;
    delete m_abandoned;
    m_received = new QSignalSpy(receiver, &PrinterThread::jobReceived);
    m_refused = new QSignalSpy(receiver, &PrinterThread::jobRefused);
    m_abandoned = new QSignalSpy(receiver, &PrinterThread::jobAbandoned);
    receiver->start();
    return receiver;
}

void TestPrinterThread::sendInPieces(QTcpSocket &client, const QByteArray &job, int pieces)
{
    const int step = qMax(1, (job.size() + pieces - 1) / pieces);
    for (int at = 0; at < job.size(); at += step) {
        client.write(job.mid(at, step));
        QVERIFY(client.waitForBytesWritten());
    }
}

void TestPrinterThread::jobInManyPiecesIsStoredWholeBeforeTheClose()
{
    LogCapture log;
    const QByteArray job = patternedJob(300000);
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    sendInPieces(client, job, 120);
    // The spooler's side: it sends, closes its half and waits for the receiver's close.
    bool storedAtClose = false;
    connect(&client, &QTcpSocket::disconnected, this, [&] { storedAtClose = QFile::exists(m_final); });
    ::shutdown(int(client.socketDescriptor()), SHUT_WR);

    QTRY_COMPARE(m_received->size(), 1);
    QCOMPARE(m_received->first().at(0).toLongLong(), kJobId);
    QCOMPARE(m_received->first().at(1).toLongLong(), qint64(job.size()));
    QVERIFY(fileBytes(m_final) == job);
    QVERIFY(!QFile::exists(m_partial));
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(storedAtClose);
    QVERIFY(m_refused->isEmpty() && m_abandoned->isEmpty());
    QTRY_VERIFY(receiver.isNull());
    QVERIFY(log.linesContaining(QStringLiteral("59_PrinterThread"))
                .value(0)
                .contains(QStringLiteral("Front Desk, port: %1 disconnect").arg(m_listener->serverPort())));
    // The receiver's last word names the cloud serial, not the printer.
    const QStringList last = log.linesContaining(QStringLiteral("18_PrinterThread"));
    QCOMPARE(last.size(), 1);
    QVERIFY(last.first().endsWith(QStringLiteral("%1 printComplete").arg(kSerial)));
}

void TestPrinterThread::emptyJobIsAJobOfNoBytes()
{
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.disconnectFromHost();
    QTRY_COMPARE(m_received->size(), 1);
    QCOMPARE(m_received->first().at(1).toLongLong(), qint64(0));
    QVERIFY(QFile::exists(m_final));
    QCOMPARE(QFileInfo(m_final).size(), qint64(0));
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::slowSpoolerIsReadToItsEnd()
{
    // Far longer in all than the limit, but never silent for as long as the limit.
    ProgramWaits waits = ProgramWaits::current();
    waits.jobReceiveTimeoutMs = 600;
    const ScopedProgramWaits shortSilence(waits);
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    QByteArray job;
    for (int i = 0; i < 15; ++i) {
        const QByteArray piece = patternedJob(200).mid(i);
        job += piece;
        client.write(piece);
        QVERIFY(client.waitForBytesWritten());
        QTest::qWait(120);
    }
    client.disconnectFromHost();
    QTRY_COMPARE(m_received->size(), 1);
    QVERIFY(m_abandoned->isEmpty());
    QVERIFY(fileBytes(m_final) == job);
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::silentConnectionIsResetAndNothingKept()
{
    ProgramWaits waits = ProgramWaits::current();
    waits.jobReceiveTimeoutMs = 300;
    const ScopedProgramWaits shortSilence(waits);
    LogCapture log;
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.write(patternedJob(777));
    QVERIFY(client.waitForBytesWritten());

    QTRY_COMPARE(m_abandoned->size(), 1);
    QCOMPARE(m_abandoned->first().at(0).toLongLong(), kJobId);
    QVERIFY(m_received->isEmpty() && m_refused->isEmpty());
    // A reset, not an orderly close: the spooler must not count the job as delivered.
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(client.error(), QAbstractSocket::RemoteHostClosedError);
    QVERIFY(!QFile::exists(m_partial) && !QFile::exists(m_final));
    QCOMPARE(log.count(QStringLiteral("93_PrinterThread")), 1);
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::spoolerThatResetsMidJobKeepsIt()
{
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    sendInPieces(client, patternedJob(50000), 5);
    client.abort();
    QTRY_COMPARE(m_abandoned->size() + m_received->size(), 1);
    // Linux reports a reset after data as the end of the stream only when nothing was lost; either
    // way a torn job is not stored as a whole one.
    if (!m_received->isEmpty())
        QCOMPARE(fileBytes(m_final).size(), 50000);
    else
        QVERIFY(!QFile::exists(m_final) && !QFile::exists(m_partial));
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::oversizedJobIsReadToItsEndAndRefused()
{
    ProgramWaits waits = ProgramWaits::current();
    waits.maxJobBytes = 10000;
    const ScopedProgramWaits smallJobs(waits);
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    // Far more than the kernel's buffers hold: it only all goes out if the receiver keeps reading.
    const QByteArray job = patternedJob(4 << 20);
    sendInPieces(client, job, 64);
    client.disconnectFromHost();

    QTRY_COMPARE(m_refused->size(), 1);
    QCOMPARE(m_refused->first().at(1).toLongLong(), qint64(job.size()));
    QVERIFY(!QFile::exists(m_final) && !QFile::exists(m_partial));
    QTRY_VERIFY(receiver.isNull());

    // A job right at the bound is kept whole.
    QTcpSocket second;
    receiver = startReceiver(second);
    QVERIFY(receiver);
    sendInPieces(second, patternedJob(10000), 7);
    second.disconnectFromHost();
    QTRY_COMPARE(m_received->size(), 1);
    QVERIFY(fileBytes(m_final) == patternedJob(10000));
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::unusableDescriptorIsAbandoned()
{
    LogCapture log;
    QPointer<PrinterThread> receiver = new PrinterThread(-1, kJobId, printer(), m_partial, m_final);
    connect(receiver, &QThread::finished, receiver, &QObject::deleteLater);
    QSignalSpy abandoned(receiver, &PrinterThread::jobAbandoned);
    QSignalSpy socketErrors(receiver, &PrinterThread::error);
    receiver->start();
    QTRY_COMPARE(abandoned.size(), 1);
    QCOMPARE(socketErrors.size(), 1);
    QCOMPARE(log.count(QStringLiteral("25_PrinterThread")), 1);
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::unwritableSpoolFolderResetsTheConnection()
{
    m_partial = m_spool->filePath(QStringLiteral("missing/41.part"));
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.write("a job with nowhere to go");
    QTRY_COMPARE(m_abandoned->size(), 1);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(m_received->isEmpty());
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::interruptedReceiverGivesTheJobBack()
{
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.write("half a job");
    QVERIFY(client.waitForBytesWritten());
    receiver->requestInterruption();
    QTRY_COMPARE(m_abandoned->size(), 1);
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(!QFile::exists(m_partial) && !QFile::exists(m_final));
    QTRY_VERIFY(receiver.isNull());
}

// The job is the program's only once its journal entry is on the disk: a journal that cannot be
// written through leaves the job with the spooler (the connection is reset), one that can lets the
// receiver close in order.
void TestPrinterThread::journalWrittenThroughBeforeTheSpoolerIsTold()
{
    // A folder stands for a journal file that cannot be opened for writing, whoever runs the test.
    m_durabilityFile = m_spool->path();
    QTcpSocket refused;
    QPointer<PrinterThread> receiver = startReceiver(refused);
    QVERIFY(receiver);
    refused.write("a job whose entry cannot be made durable");
    QVERIFY(refused.waitForBytesWritten());
    ::shutdown(int(refused.socketDescriptor()), SHUT_WR);
    QTRY_COMPARE(m_abandoned->size(), 1);
    QVERIFY(m_received->isEmpty());
    QTRY_VERIFY(receiver.isNull());

    m_durabilityFile = m_spool->filePath(QStringLiteral("outbox.db-wal"));
    QFile journal(m_durabilityFile);
    QVERIFY(journal.open(QIODevice::WriteOnly));
    QVERIFY(journal.write("frames") == 6);
    journal.close();
    QTcpSocket taken;
    receiver = startReceiver(taken);
    QVERIFY(receiver);
    taken.write("a job whose entry is on the disk");
    QVERIFY(taken.waitForBytesWritten());
    ::shutdown(int(taken.socketDescriptor()), SHUT_WR);
    QTRY_COMPARE(m_received->size(), 1);
    QTRY_COMPARE(taken.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(m_abandoned->isEmpty());
    QCOMPARE(fileBytes(m_durabilityFile), QByteArray("frames"));
}

QTEST_GUILESS_MAIN(TestPrinterThread)
#include "tst_printerthread.moc"
