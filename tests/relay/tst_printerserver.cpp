#include "closedport.h"
#include "cloudsimprocess.h"
#include "detailfile.h"
#include "logcapture.h"
#include "outboxjournal.h"
#include "printeroutbox.h"
#include "printerserver.h"
#include "programfolder.h"
#include "programwaits.h"
#include "rawhttppeer.h"
#include "resultsink.h"
#include "scopedprogramwaits.h"
#include "spoolerfixture.h"
#include "testprinters.h"
#include "testtiming.h"
#include "winsim/winsimcontrol.h"

#include <QFile>
#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
const QString kPrinter = QStringLiteral("Back Office");
const QString kSerial = QStringLiteral("0011223344556677");

DriverInfo printer()
{
    DriverInfo info;
    info.printer_name = kPrinter;
    info.cloud_sn = kSerial;
    info.port_name = QStringLiteral("REDadez_9102");
    info.port_num = 0;
    info.driver_name = TestPrinters::driverName();
    info.ip = QStringLiteral("127.0.0.1");
    return info;
}

QString postedSerial(const CapturedRequest &request)
{
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    return body.value(QStringLiteral("tvNumber")).toArray().at(0).toString();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The program's waits with a post's retries 50 ms apart at first and `longestMs` at most.
ProgramWaits withQuickRetries(int longestMs, qint64 giveUpMs)
{
    ProgramWaits waits = ProgramWaits::current();
    waits.postRetryFirstDelayMs = 50;
    waits.postRetryMaxDelayMs = longestMs;
    waits.postRetryGiveUpMs = giveUpMs;
    return waits;
}

} // namespace

// The listener with its outbox and journal: loopback connections play the spooler, a bare HTTP peer
// or the stand-in plays the service, and the test plays the card (it records by calling back).
class TestPrinterServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void jobIsJournaledPostedAndFollowed();
    void laterJobsAreTakenAtOnceAndPostedInTurn();
    void jobsArePostedInArrivalOrderNotInOrderOfCompletion();
    void newRecordReachesTheNextJobOnly();
    void restartResumesEveryStateWithoutPostingTwice();
    void unreachableServiceIsRetriedUntilItAnswers();
    void retriesEndAfterTheirLimit();
    void gatewayRefusalIsRetriedOtherFailuresAreNot();
    void postCutUnderItsBodyIsSentAgainOnce();
    void jobTooLargeIsReportedInItsTurn();
    void destructionResetsConnectionsStillArriving();
    void jobsOfPrintersThatAreGoneGetTheirRecord();
    void jobsInFlightShowWhereEachStands();
    void keptFailureIsSentAgainAsANewJob();
    void pruneDeletesOnlyWhatNoJobNeeds();

private:
    // A spooler connection that sends `job` and closes; returns once the job is in the journal.
    bool sendJob(const QByteArray &job);
    PrinterServer *makeServer();
    // What the card does once it has recorded the current job.
    void recordCurrent(const QString &result);

    LogCapture *m_log = nullptr;
    QTemporaryDir *m_folder = nullptr;
    OutboxJournal *m_journal = nullptr;
    PrinterServer *m_server = nullptr;
    RawHttpPeer *m_service = nullptr;
    ResultSink *m_sink = nullptr;
    std::vector<std::unique_ptr<QTcpSocket>> m_clients;
    CloudSimProcess m_cloudsim;
};

void TestPrinterServer::initTestCase()
{
    // A spooler without printers: the listener finds no printing job to describe.
    QVERIFY(winsim::reset());
    // The suite's own sockets play the spooler.
    QVERIFY(SpoolerFixture::playSpooler());
    QVERIFY(m_cloudsim.start());
}

void TestPrinterServer::init()
{
    m_log = new LogCapture;
    m_folder = new QTemporaryDir;
    QVERIFY(m_folder->isValid());
    m_journal = new OutboxJournal(
        m_folder->filePath(QStringLiteral("outbox.db")), m_folder->filePath(QStringLiteral("spool")));
    QVERIFY(m_journal->isOpen());
    m_service = new RawHttpPeer(this);
    QVERIFY(m_service->listen());
    m_service->setResponse(200, R"({"code":0,"data":{"tolvixId":"J-1"}})");
    ProgramWaits waits;
    waits.cloudServiceBase = m_service->base();
    ProgramWaits::setForTesting(waits);
    m_sink = new ResultSink;
    m_server = makeServer();
}

PrinterServer *TestPrinterServer::makeServer()
{
    auto *server = new PrinterServer(printer(), m_journal);
    if (!server->listen(QHostAddress::LocalHost, 0))
        qWarning() << "cannot listen";
    connect(server, &PrinterServer::cloudResule, m_sink, &ResultSink::onResult, Qt::QueuedConnection);
    return server;
}

void TestPrinterServer::cleanup()
{
    if (QTest::currentTestFailed()) {
        for (const QString &line : m_log->lines())
            fprintf(stderr, "  log: %s\n", qPrintable(line));
    }
    m_clients.clear();
    delete m_server;
    m_server = nullptr;
    delete m_sink;
    delete m_service;
    delete m_journal;
    delete m_folder;
    delete m_log;
    ProgramWaits::resetForTesting();
}

bool TestPrinterServer::sendJob(const QByteArray &job)
{
    const int accepted = m_log->count(QStringLiteral("24_PrinterServer incomingConnection"));
    m_clients.push_back(std::make_unique<QTcpSocket>());
    QTcpSocket *client = m_clients.back().get();
    client->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    if (!client->waitForConnected())
        return false;
    client->write(job);
    client->waitForBytesWritten();
    SpoolerFixture::endJob(client);
    // The next connection must not overtake this one at the listener.
    return QTest::qWaitFor(
        [&] { return m_log->count(QStringLiteral("24_PrinterServer incomingConnection")) == accepted + 1; },
        5000);
}

void TestPrinterServer::recordCurrent(const QString &result)
{
    m_server->onJobRecorded(result);
}

void TestPrinterServer::jobIsJournaledPostedAndFollowed()
{
    QVERIFY(sendJob("first job"));
    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(m_service->requests().size(), 1);
    QCOMPARE(m_service->requests().first().postedJob(), QByteArray("first job"));
    QCOMPARE(postedSerial(m_service->requests().first()), kSerial);
    // Nothing prints in the spooler of this machine for the printer, so the description is empty.
    QCOMPARE(m_sink->jobneed(0), QString());
    QCOMPARE(m_sink->jobSize(0), 9);
    QCOMPARE(m_sink->jobId(0), QStringLiteral("J-1"));

    const QList<OutboxJob> open = m_journal->unfinishedJobs(kPrinter);
    QCOMPARE(open.size(), 1);
    QCOMPARE(open.first().state, OutboxState::Posted);
    QCOMPARE(open.first().cloudJobId, QStringLiteral("J-1"));
    QCOMPARE(open.first().serial, kSerial);
    QCOMPARE(open.first().attempts, 1);
    QVERIFY(QFile::exists(m_journal->spoolFilePath(open.first().id)));

    recordCurrent(QStringLiteral("打印成功"));
    QVERIFY(m_journal->unfinishedJobs(kPrinter).isEmpty());
    QCOMPARE(m_journal->job(open.first().id)->result, QStringLiteral("打印成功"));
    // A printed job's bytes are needed no more; they go in the background.
    QTRY_VERIFY(!QFile::exists(m_journal->spoolFilePath(open.first().id)));
    QTRY_COMPARE(m_log->count(QStringLiteral("printComplete")), 1);
}

void TestPrinterServer::laterJobsAreTakenAtOnceAndPostedInTurn()
{
    QVERIFY(sendJob("job one"));
    QVERIFY(m_sink->waitFor(1));
    // The card follows job one; the jobs after it are read whole at once and wait in the outbox.
    QVERIFY(sendJob("job two"));
    QVERIFY(sendJob("job three"));
    QTRY_COMPARE(m_log->count(QStringLiteral("printComplete")), 3);
    for (QTcpSocket *client : { m_clients.at(1).get(), m_clients.at(2).get() })
        QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(m_server->outbox()->waitingCount(), 2);
    QVERIFY(!m_sink->waitFor(2, 300));
    QCOMPARE(m_service->requests().size(), 1);

    // A failed job keeps its bytes, to be sent again.
    const qint64 first = m_journal->unfinishedJobs(kPrinter).first().id;
    recordCurrent(QStringLiteral("打印失败:设备离线"));
    QVERIFY(QFile::exists(m_journal->spoolFilePath(first)));
    QVERIFY(m_sink->waitFor(2));
    QCOMPARE(m_service->requests().at(1).postedJob(), QByteArray("job two"));
    // The card frees the port without a record of its own: the job ends all the same.
    m_server->on_PortBusy(false);
    QVERIFY(m_sink->waitFor(3));
    QCOMPARE(m_service->requests().at(2).postedJob(), QByteArray("job three"));
    QCOMPARE(m_service->requests().size(), 3);
    recordCurrent(QStringLiteral("打印成功"));
    QVERIFY(m_journal->unfinishedJobs(kPrinter).isEmpty());
}

void TestPrinterServer::jobsArePostedInArrivalOrderNotInOrderOfCompletion()
{
    // The first connection is slow to finish; the second is whole long before it.
    m_clients.push_back(std::make_unique<QTcpSocket>());
    QTcpSocket *slow = m_clients.back().get();
    slow->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    QVERIFY(slow->waitForConnected());
    slow->write("first to arrive, ");
    QVERIFY(slow->waitForBytesWritten());
    QTRY_COMPARE(m_log->count(QStringLiteral("24_PrinterServer incomingConnection")), 1);
    QVERIFY(sendJob("second to arrive"));
    QTRY_COMPARE(m_log->count(QStringLiteral("run finished")), 1);
    QVERIFY(!m_sink->waitFor(1, 300));
    QVERIFY(m_service->requests().isEmpty());

    slow->write("last to be whole");
    SpoolerFixture::endJob(slow);
    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_service->requests().at(0).postedJob(), QByteArray("first to arrive, last to be whole"));
    recordCurrent(QStringLiteral("打印成功"));
    QVERIFY(m_sink->waitFor(2));
    QCOMPARE(m_service->requests().at(1).postedJob(), QByteArray("second to arrive"));

    // A connection that never becomes a job gives its place up.
    ProgramWaits waits = ProgramWaits::current();
    waits.jobReceiveTimeoutMs = 300;
    const ScopedProgramWaits shortSilence(waits);
    m_clients.push_back(std::make_unique<QTcpSocket>());
    QTcpSocket *silent = m_clients.back().get();
    silent->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    QVERIFY(silent->waitForConnected());
    QTRY_COMPARE(m_log->count(QStringLiteral("24_PrinterServer incomingConnection")), 3);
    QVERIFY(sendJob("behind a silent one"));
    recordCurrent(QStringLiteral("打印成功"));
    QVERIFY(m_sink->waitFor(3));
    QCOMPARE(m_service->requests().at(2).postedJob(), QByteArray("behind a silent one"));
}

void TestPrinterServer::newRecordReachesTheNextJobOnly()
{
    const quint16 port = m_server->serverPort();
    DriverInfo renamed = printer();
    renamed.printer_name = QStringLiteral("Back Office 2");
    renamed.cloud_sn = QStringLiteral("8899AABBCCDDEEFF");
    m_server->onDriverInfoChanged(renamed);
    QCOMPARE(m_log->count(QStringLiteral("43_PrinterServer driver info change")), 1);
    QCOMPARE(m_server->serverPort(), port);
    QVERIFY(m_server->isListening());

    QVERIFY(sendJob("after the change"));
    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(postedSerial(m_service->requests().first()), QStringLiteral("8899AABBCCDDEEFF"));
    QCOMPARE(m_journal->unfinishedJobs(QStringLiteral("Back Office 2")).size(), 1);
    QTRY_COMPARE(m_log->count(QStringLiteral("8899AABBCCDDEEFF printComplete")), 1);
}

void TestPrinterServer::restartResumesEveryStateWithoutPostingTwice()
{
    delete m_server;
    m_server = nullptr;
    // What a program killed at each step leaves behind, oldest first.
    const qint64 torn = m_journal->addJob(kPrinter, kSerial, QStringLiteral("torn.txt;01:00:00"));
    QVERIFY(writeFile(m_journal->partialSpoolFilePath(torn), "half"));
    const qint64 stored = m_journal->addJob(kPrinter, kSerial, QStringLiteral("stored.txt;01:00:01"));
    QVERIFY(writeFile(m_journal->spoolFilePath(stored), "stored whole"));
    const qint64 received = m_journal->addJob(kPrinter, kSerial, QStringLiteral("received.txt;01:00:02"));
    QVERIFY(writeFile(m_journal->spoolFilePath(received), "received job"));
    QVERIFY(m_journal->setReceived(received, 12));
    const qint64 posting = m_journal->addJob(kPrinter, kSerial, QStringLiteral("posting.txt;01:00:03"));
    QVERIFY(writeFile(m_journal->spoolFilePath(posting), "maybe printed"));
    QVERIFY(m_journal->setReceived(posting, 13));
    QVERIFY(m_journal->setPosting(posting));
    const qint64 posted = m_journal->addJob(kPrinter, kSerial, QStringLiteral("posted.txt;01:00:04"));
    QVERIFY(m_journal->setReceived(posted, 7));
    QVERIFY(m_journal->setPosting(posted));
    QVERIFY(m_journal->setPosted(posted, QStringLiteral("J-77")));
    const qint64 other = m_journal->addJob(QStringLiteral("Elsewhere"), kSerial, QString());
    QVERIFY(m_journal->setReceived(other, 1));

    m_server = makeServer();
    m_server->recover();
    // The torn job is still the spooler's; nothing of it stays.
    QVERIFY(!m_journal->job(torn));
    QVERIFY(!QFile::exists(m_journal->partialSpoolFilePath(torn)));

    QStringList seen;
    for (int i = 0; i < 4; ++i) {
        QVERIFY2(m_sink->waitFor(i + 1), qPrintable(QString::number(i)));
        seen << m_sink->jobneed(i).section(QLatin1Char(';'), 0, 0);
        recordCurrent(m_sink->results.at(i).error == QNetworkReply::NoError
                ? QStringLiteral("打印成功")
                : QStringLiteral("打印失败:网络访问异常"));
    }
    QCOMPARE(seen,
        QStringList({ QStringLiteral("stored.txt"), QStringLiteral("received.txt"),
            QStringLiteral("posting.txt"), QStringLiteral("posted.txt") }));
    // Two posts: the job stored whole and the received one. The one whose answer never came is
    // reported, never posted again; the posted one is followed under its id.
    QCOMPARE(m_service->requests().size(), 2);
    QCOMPARE(m_service->requests().at(0).postedJob(), QByteArray("stored whole"));
    QCOMPARE(m_service->requests().at(1).postedJob(), QByteArray("received job"));
    QCOMPARE(m_sink->jobSize(0), 12);
    QCOMPARE(m_sink->results.at(2).error, QNetworkReply::RemoteHostClosedError);
    QCOMPARE(m_sink->jobSize(2), 13);
    QCOMPARE(m_sink->results.at(3).error, QNetworkReply::NoError);
    QCOMPARE(m_sink->jobId(3), QStringLiteral("J-77"));
    QCOMPARE(m_sink->jobSize(3), 7);
    QVERIFY(m_journal->unfinishedJobs(kPrinter).isEmpty());
    // The failed job stays re-sendable; another printer's jobs are not this outbox's.
    QVERIFY(QFile::exists(m_journal->spoolFilePath(posting)));
    QCOMPARE(m_journal->unfinishedJobs(QStringLiteral("Elsewhere")).size(), 1);
}

void TestPrinterServer::pruneDeletesOnlyWhatNoJobNeeds()
{
    const auto finished = [this](const QString &result, const QByteArray &bytes) {
        const qint64 id = m_journal->addJob(kPrinter, kSerial, QStringLiteral("a.txt;01:00:00"));
        writeFile(m_journal->spoolFilePath(id), bytes);
        m_journal->setReceived(id, bytes.size());
        m_journal->setFinal(id, result);
        return id;
    };
    const qint64 waiting = m_journal->addJob(kPrinter, kSerial, QStringLiteral("w.txt;01:00:00"));
    QVERIFY(writeFile(m_journal->spoolFilePath(waiting), "waiting"));
    QVERIFY(m_journal->setReceived(waiting, 7));
    const qint64 arriving = m_journal->addJob(kPrinter, kSerial, QStringLiteral("r.txt;01:00:00"));
    QVERIFY(writeFile(m_journal->partialSpoolFilePath(arriving), "half"));
    const qint64 printed = finished(QStringLiteral("打印成功"), "printed");
    const qint64 failed = finished(QStringLiteral("打印失败:网络访问异常"), "failed");
    const QString stray = m_journal->spoolFolder() + QStringLiteral("/999.part");
    QVERIFY(writeFile(stray, "left over"));

    const QDateTime now = QDateTime::currentDateTime();
    m_journal->prune(now);
    QTRY_VERIFY(!QFile::exists(m_journal->spoolFilePath(printed)));
    QTRY_VERIFY(!QFile::exists(stray));
    QVERIFY(QFile::exists(m_journal->spoolFilePath(waiting)));
    QVERIFY(QFile::exists(m_journal->partialSpoolFilePath(arriving)));
    // A failure keeps its bytes for a day, to be sent again.
    QVERIFY(QFile::exists(m_journal->spoolFilePath(failed)));
    QVERIFY(m_journal->job(printed));

    m_journal->prune(now.addSecs(25 * 3600));
    QTRY_VERIFY(!QFile::exists(m_journal->spoolFilePath(failed)));
    QVERIFY(m_journal->job(failed));
    QVERIFY(QFile::exists(m_journal->spoolFilePath(waiting)));

    // A week on, finished jobs are forgotten; unfinished ones never are.
    m_journal->prune(now.addDays(8));
    QVERIFY(!m_journal->job(printed));
    QVERIFY(!m_journal->job(failed));
    QVERIFY(m_journal->job(waiting));
    QVERIFY(QFile::exists(m_journal->spoolFilePath(waiting)));
}

void TestPrinterServer::unreachableServiceIsRetriedUntilItAnswers()
{
    const quint16 port = closedLoopbackPort();
    ProgramWaits waits = withQuickRetries(200, 60000);
    waits.cloudServiceBase = QStringLiteral("http://127.0.0.1:%1").arg(port);
    const ScopedProgramWaits quickRetries(waits);
    QSignalSpy waiting(m_server, &PrinterServer::postWaiting);
    QVERIFY(sendJob("retried job"));
    QVERIFY(waiting.wait(TestTiming::scaled(15000)));
    QCOMPARE(waiting.first().at(0).toBool(), true);
    QCOMPARE(m_journal->unfinishedJobs(kPrinter).first().state, OutboxState::Received);
    QTRY_VERIFY(m_journal->unfinishedJobs(kPrinter).first().attempts >= 3);
    QVERIFY(m_sink->results.isEmpty());
    QCOMPARE(m_server->outbox()->jobsInFlight().size(), 1);
    // Between attempts it waits; an attempt itself shows as an upload.
    QTRY_COMPARE(m_server->outbox()->jobsInFlight().first().stage, JobInFlight::Stage::WaitingForRetry);

    CloudSimProcess service;
    QVERIFY2(service.start({}, port), qPrintable(service.error()));
    QVERIFY(m_sink->waitFor(1, 10000));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(service.jobs().size(), 1);
    QCOMPARE(service.jobData(m_sink->jobId(0)), QByteArray("retried job"));
    QCOMPARE(waiting.last().at(0).toBool(), false);
    QCOMPARE(m_journal->unfinishedJobs(kPrinter).first().state, OutboxState::Posted);
}

void TestPrinterServer::retriesEndAfterTheirLimit()
{
    ProgramWaits waits = withQuickRetries(100, 400);
    waits.cloudServiceBase = QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort());
    const ScopedProgramWaits quickRetries(waits);
    QVERIFY(sendJob("never reaches anyone"));
    QVERIFY(m_sink->waitFor(1, 10000));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::ConnectionRefusedError);
    QCOMPARE(m_sink->jobSize(0), 20);
    QVERIFY(m_journal->unfinishedJobs(kPrinter).first().attempts >= 2);
}

void TestPrinterServer::gatewayRefusalIsRetriedOtherFailuresAreNot()
{
    const ScopedProgramWaits quickRetries(withQuickRetries(100, 60000));
    m_service->setResponse(503, "busy");
    QVERIFY(sendJob("after a 503"));
    QTRY_VERIFY(m_service->requests().size() >= 2);
    QVERIFY(m_sink->results.isEmpty());
    m_service->setResponse(200, R"({"code":0,"data":{"tolvixId":"J-2"}})");
    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_sink->jobId(0), QStringLiteral("J-2"));
    recordCurrent(QStringLiteral("打印成功"));

    // A redirect is no acceptance, and nothing after it is tried again.
    const int before = m_service->requests().size();
    m_service->setResponse(302, "");
    QVERIFY(sendJob("redirected"));
    QVERIFY(m_sink->waitFor(2));
    QVERIFY(m_sink->results.at(1).error != QNetworkReply::NoError);
    QVERIFY(m_sink->results.at(1).error != QNetworkReply::UnknownContentError);
    QVERIFY(!m_sink->waitFor(3, 300));
    QCOMPARE(m_service->requests().size(), before + 1);
}

void TestPrinterServer::postCutUnderItsBodyIsSentAgainOnce()
{
    const ScopedProgramWaits quickRetries(withQuickRetries(100, 60000));
    // More than the system's buffers on the way hold, so the cut comes before the last byte left.
    QByteArray job(2 << 20, 'j');
    job.replace(0, 9, "large job");
    m_service->setHangUpUnread(1, 300);
    QVERIFY(sendJob(job));
    QVERIFY(m_sink->waitFor(1, TestTiming::scaled(20000)));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(m_service->connectionCount(), 2);
    QCOMPARE(m_service->requests().size(), 1);
    QVERIFY(m_service->requests().first().postedJob() == job);
    QCOMPARE(m_journal->unfinishedJobs(kPrinter).first().attempts, 2);
    QCOMPARE(m_log->count(QStringLiteral("error 0 status 200 (sent whole)")), 1);
}

void TestPrinterServer::jobTooLargeIsReportedInItsTurn()
{
    ProgramWaits waits = ProgramWaits::current();
    waits.maxJobBytes = 1000;
    const ScopedProgramWaits smallJobs(waits);
    QVERIFY(sendJob("small job first"));
    QVERIFY(m_sink->waitFor(1));
    QVERIFY(sendJob(QByteArray(5000, 'x')));
    QTRY_COMPARE(m_log->count(QStringLiteral("too large, not posted")), 1);
    QVERIFY(!m_sink->waitFor(2, 200));
    recordCurrent(QStringLiteral("打印成功"));
    QVERIFY(m_sink->waitFor(2));
    QCOMPARE(m_sink->results.at(1).error, QNetworkReply::UnknownContentError);
    QCOMPARE(m_sink->jobSize(1), 5000);
    QCOMPARE(m_service->requests().size(), 1);
}

void TestPrinterServer::destructionResetsConnectionsStillArriving()
{
    auto client = std::make_unique<QTcpSocket>();
    client->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    QVERIFY(client->waitForConnected());
    client->write("half a job");
    QVERIFY(client->waitForBytesWritten());
    QTRY_COMPARE(m_log->count(QStringLiteral("12_PrinterThread init")), 1);
    delete m_server;
    m_server = nullptr;
    QVERIFY(m_log->lines().contains(QStringLiteral("Back Office 18_PrinterServer destruct")));
    // The spooler learns at once that nobody took its job, and keeps it.
    QTRY_COMPARE(client->state(), QAbstractSocket::UnconnectedState);
    QCOMPARE(client->error(), QAbstractSocket::RemoteHostClosedError);
    QVERIFY(m_service->requests().isEmpty());
}

void TestPrinterServer::jobsOfPrintersThatAreGoneGetTheirRecord()
{
    const qint64 gone = m_journal->addJob(
        QStringLiteral("Removed"), QStringLiteral("ABCDEFABCDEF0001"), QStringLiteral("gone.txt;02:00:00"));
    QVERIFY(m_journal->setReceived(gone, 5));
    const qint64 arriving = m_journal->addJob(
        QStringLiteral("Removed"), QStringLiteral("ABCDEFABCDEF0001"), QStringLiteral("torn.txt;02:00:01"));
    QVERIFY(ProgramFolder::install());
    const QString before = readDetailRecords(QStringLiteral("ABCDEFABCDEF0001"));
    PrinterOutbox::closeOrphanedJobs(m_journal, { kPrinter });
    const QString records = readDetailRecords(QStringLiteral("ABCDEFABCDEF0001")).mid(before.size());
    QVERIFY2(records.startsWith(QStringLiteral("gone.txt;02:00:00;打印失败:网络访问异常;5;")),
        qPrintable(records));
    QCOMPARE(records.count(QStringLiteral("!+!")), 1);
    QCOMPARE(m_journal->job(gone)->state, OutboxState::Final);
    QCOMPARE(m_journal->job(gone)->result, QStringLiteral("打印失败:网络访问异常"));
    QVERIFY(!m_journal->job(arriving));
    QVERIFY(m_service->requests().isEmpty());
}

// What the history shows of jobs without a record yet: each job's own stage, in the outbox's order.
void TestPrinterServer::jobsInFlightShowWhereEachStands()
{
    PrinterOutbox *outbox = m_server->outbox();
    QSignalSpy changed(outbox, &PrinterOutbox::jobsChanged);
    m_clients.push_back(std::make_unique<QTcpSocket>());
    QTcpSocket *slow = m_clients.back().get();
    slow->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    QVERIFY(slow->waitForConnected());
    slow->write("still arriving");
    QVERIFY(slow->waitForBytesWritten());
    QTRY_COMPARE(outbox->jobsInFlight().size(), 1);
    QVERIFY(sendJob("whole behind it"));
    QTRY_COMPARE(m_log->count(QStringLiteral("run finished")), 1);
    // The receiver says it is done from its own thread; the outbox hears of it through the event loop.
    QTRY_COMPARE(outbox->jobsInFlight().value(1).stage, JobInFlight::Stage::Waiting);
    QList<JobInFlight> jobs = outbox->jobsInFlight();
    QCOMPARE(jobs.size(), 2);
    QCOMPARE(jobs.at(0).stage, JobInFlight::Stage::Receiving);
    QCOMPARE(jobs.at(1).stage, JobInFlight::Stage::Waiting);
    QCOMPARE(jobs.at(1).size, qint64(15));
    QVERIFY(jobs.at(0).id < jobs.at(1).id);
    QVERIFY(!changed.isEmpty());

    // The service takes the post and keeps its answer: the upload is whole, the answer pending.
    m_service->setSilent(true);
    ProgramWaits waits = ProgramWaits::current();
    waits.cloudReplyTimeoutMs = 3000;
    const ScopedProgramWaits shortReplies(waits);
    slow->write(QByteArray(200000, 'x'));
    SpoolerFixture::endJob(slow);
    QTRY_COMPARE(outbox->jobsInFlight().value(0).stage, JobInFlight::Stage::Uploading);
    QTRY_COMPARE(outbox->jobsInFlight().value(0).uploadPercent, 100);
    QCOMPARE(outbox->jobsInFlight().value(0).size, qint64(14 + 200000));
    QCOMPARE(outbox->jobsInFlight().value(1).stage, JobInFlight::Stage::Waiting);

    m_service->setSilent(false);
    QVERIFY(m_sink->waitFor(1, 10000));
    recordCurrent(QStringLiteral("打印失败:网络访问异常"));
    // The second job is posted and answered: the service has it, its result is followed.
    QVERIFY(m_sink->waitFor(2, 10000));
    QCOMPARE(m_sink->results.at(1).error, QNetworkReply::NoError);
    jobs = outbox->jobsInFlight();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.first().stage, JobInFlight::Stage::Following);
    recordCurrent(QStringLiteral("打印成功"));
    QVERIFY(outbox->jobsInFlight().isEmpty());
}

// A failed job whose bytes are kept goes again as a job of its own, once, in its turn; a printed one
// never does.
void TestPrinterServer::keptFailureIsSentAgainAsANewJob()
{
    PrinterOutbox *outbox = m_server->outbox();
    QVERIFY(sendJob("failed once"));
    QVERIFY(m_sink->waitFor(1));
    const qint64 failed = m_journal->unfinishedJobs(kPrinter).first().id;
    recordCurrent(QStringLiteral("打印失败:设备离线"));
    QVERIFY(sendJob("printed"));
    QVERIFY(m_sink->waitFor(2));
    const qint64 printed = m_journal->unfinishedJobs(kPrinter).first().id;
    recordCurrent(QStringLiteral("打印成功"));

    QList<OutboxJob> kept = outbox->resendableJobs();
    QCOMPARE(kept.size(), 1);
    QCOMPARE(kept.first().id, failed);
    QCOMPARE(kept.first().result, QStringLiteral("打印失败:设备离线"));
    QCOMPARE(outbox->resend(printed), qint64(0));

    m_service->setResponse(200, R"({"code":0,"data":{"tolvixId":"J-2"}})");
    const qint64 again = outbox->resend(failed);
    QVERIFY(again > printed);
    // The old job gave its bytes away: a second click sends nothing more.
    QCOMPARE(outbox->resend(failed), qint64(0));
    QVERIFY(outbox->resendableJobs().isEmpty());
    QVERIFY(m_sink->waitFor(3));
    QCOMPARE(m_service->requests().size(), 3);
    QCOMPARE(m_service->requests().at(2).postedJob(), QByteArray("failed once"));
    QCOMPARE(m_sink->jobId(2), QStringLiteral("J-2"));
    QCOMPARE(m_sink->jobSize(2), 11);
    QCOMPARE(m_journal->job(again)->state, OutboxState::Posted);
    QCOMPARE(m_journal->job(failed)->result, QStringLiteral("打印失败:设备离线"));
    recordCurrent(QStringLiteral("打印成功"));
    QCOMPARE(m_journal->job(again)->result, QStringLiteral("打印成功"));
    QVERIFY(!m_sink->waitFor(4, 300));
    QCOMPARE(m_service->requests().size(), 3);
}

QTEST_GUILESS_MAIN(TestPrinterServer)
#include "tst_printerserver.moc"
