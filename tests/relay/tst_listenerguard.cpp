#include "logcapture.h"
#include "outboxjournal.h"
#include "printerserver.h"
#include "programwaits.h"
#include "rawhttppeer.h"
#include "resultsink.h"
#include "scopedprogramwaits.h"
#include "spoolerfixture.h"
#include "strangerprocess.h"
#include "testprinters.h"
#include "testtiming.h"
#include "win32.h"
#include "winsim/winsimcontrol.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/resource.h>

#include <memory>
#include <vector>

namespace {

DriverInfo printer(quint16 port)
{
    DriverInfo info;
    info.printer_name = QStringLiteral("Front Desk");
    info.cloud_sn = QStringLiteral("00AA11BB22CC33DD");
    info.port_name = QStringLiteral("REDadez_guard");
    info.port_num = port;
    info.driver_name = TestPrinters::driverName();
    info.ip = QStringLiteral("127.0.0.1");
    return info;
}

// Descriptors this process has open right now.
int openDescriptors()
{
    return QDir(QStringLiteral("/proc/self/fd"))
        .entryList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)
        .size();
}

} // namespace

// Who may print through a printer's port: the spooler alone, however many others try. The test
// process plays the spooler (its sockets are the spooler's); child processes play everybody else.
class TestListenerGuard : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void strangersAreRefusedUnread_data();
    void strangersAreRefusedUnread();
    void spoolerConnectionsAreBounded();
    void idleFloodNeitherEndsNorStarvesTheListener();
    void runningOutOfDescriptorsOnlyPausesAccepting();
    void takenPortIsRetriedUntilItIsFree();
    void unknownOwnersAreRefused();

private:
    // The spooler sends a job; true once the service has been asked to print it and the job is over.
    bool spoolerJobIsPosted(const QByteArray &job);
    // Job rows the journal holds, whatever their state.
    int journaledJobs() const;

    LogCapture *m_log = nullptr;
    QTemporaryDir *m_folder = nullptr;
    OutboxJournal *m_journal = nullptr;
    RawHttpPeer *m_service = nullptr;
    ResultSink *m_sink = nullptr;
    PrinterServer *m_server = nullptr;
    std::vector<std::unique_ptr<QTcpSocket>> m_clients;
};

void TestListenerGuard::initTestCase()
{
    QVERIFY(winsim::reset());
    QVERIFY(SpoolerFixture::playSpooler());
}

void TestListenerGuard::init()
{
    m_log = new LogCapture;
    m_folder = new QTemporaryDir;
    m_journal = new OutboxJournal(
        m_folder->filePath(QStringLiteral("outbox.db")), m_folder->filePath(QStringLiteral("spool")));
    QVERIFY(m_journal->isOpen());
    m_service = new RawHttpPeer;
    QVERIFY(m_service->listen());
    m_service->setResponse(200, R"({"code":0,"data":{"tolvixId":"J-7"}})");
    ProgramWaits waits;
    waits.cloudServiceBase = m_service->base();
    ProgramWaits::setForTesting(waits);
    m_sink = new ResultSink;
    m_server = new PrinterServer(printer(0), m_journal);
    connect(m_server, &PrinterServer::cloudResule, m_sink, &ResultSink::onResult, Qt::QueuedConnection);
    m_server->start();
    QVERIFY(m_server->isListening());
}

void TestListenerGuard::cleanup()
{
    if (QTest::currentTestFailed()) {
        for (const QString &line : m_log->lines())
            fprintf(stderr, "  log: %s\n", qPrintable(line));
    }
    m_clients.clear();
    delete m_server;
    delete m_sink;
    delete m_service;
    delete m_journal;
    delete m_folder;
    delete m_log;
    ProgramWaits::resetForTesting();
}

bool TestListenerGuard::spoolerJobIsPosted(const QByteArray &job)
{
    const int before = m_service->requests().size();
    m_clients.push_back(std::make_unique<QTcpSocket>());
    QTcpSocket *client = m_clients.back().get();
    client->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    if (!client->waitForConnected())
        return false;
    client->write(job);
    SpoolerFixture::endJob(client);
    const int results = m_sink->results.size();
    if (!QTest::qWaitFor([&] { return m_service->requests().size() > before; }, 20000))
        return false;
    // As the card does once the job is recorded, so that the next job may go.
    if (!m_sink->waitFor(results + 1, 20000))
        return false;
    m_server->onJobRecorded(QStringLiteral("打印成功"));
    return m_service->requests().constLast().body.contains(job.toBase64());
}

int TestListenerGuard::journaledJobs() const
{
    int rows = 0;
    for (qint64 id = 1; id < 10000 && m_journal->job(id); ++id)
        ++rows;
    return rows;
}

void TestListenerGuard::strangersAreRefusedUnread_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("bytes from another program") << QStringLiteral("bytes");
    QTest::newRow("bytes from another user's program") << QStringLiteral("other user");
    QTest::newRow("HTTP request, as a web page makes one") << QStringLiteral("http");
}

// Nobody but the spooler prints on the user's account: not a program of the user's own, not one of
// another user, not a web page through the browser. Their connection is reset before a byte is read;
// nothing is journaled, posted or recorded, and the spooler's next job goes through as usual.
void TestListenerGuard::strangersAreRefusedUnread()
{
    QFETCH(QString, how);
    const quint16 port = m_server->serverPort();
    StrangerProcess stranger;
    if (how == QLatin1String("http")) {
        QVERIFY2(stranger.postLikeABrowser(port, "PRINT ME"), qPrintable(stranger.error()));
        // Reset before an answer: nothing came back.
        QVERIFY(!stranger.answered());
    } else {
        if (how == QLatin1String("other user")) {
            if (!StrangerProcess::canRunAsOtherUser())
                QSKIP("running a process as another user needs root");
            stranger.setOtherUser(true);
        }
        QVERIFY2(stranger.send(port, "PRINT ME, a job no spooler ever had"), qPrintable(stranger.error()));
    }
    const qint64 peer = stranger.processId();

    QTRY_COMPARE(m_log->count(QStringLiteral("refused 1 connection(s) from process %1 (").arg(peer)), 1);
    const QString refusal = m_log->linesContaining(QStringLiteral("from process %1").arg(peer)).first();
    QVERIFY2(
        refusal.contains(how == QLatin1String("http") ? QStringLiteral("curl") : QStringLiteral("stranger")),
        qPrintable(refusal));
    QCOMPARE(journaledJobs(), 0);
    QVERIFY(m_service->requests().isEmpty());
    QVERIFY(m_sink->results.isEmpty());
    QCOMPARE(m_log->count(QStringLiteral("59_PrinterThread")), 0);

    QVERIFY(spoolerJobIsPosted("the spooler's own job"));
    QCOMPARE(m_service->requests().size(), 1);
    QCOMPARE(journaledJobs(), 1);
}

// The spooler's connections are taken at once, but not without end: past the bound the spooler is
// refused (it keeps the job and tries again), and no thread or descriptor piles up.
void TestListenerGuard::spoolerConnectionsAreBounded()
{
    ProgramWaits waits = ProgramWaits::current();
    waits.jobReceiveTimeoutMs = 60000;
    const ScopedProgramWaits longSilence(waits);
    const int tried = PrinterServer::kMaxReceiving + 2;
    std::vector<std::unique_ptr<QTcpSocket>> spooler;
    for (int i = 0; i < tried; ++i) {
        spooler.push_back(std::make_unique<QTcpSocket>());
        spooler.back()->connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        QVERIFY(spooler.back()->waitForConnected());
    }
    QTRY_COMPARE(
        m_log->count(QStringLiteral("too many connections at once")), tried - PrinterServer::kMaxReceiving);
    QTRY_COMPARE(journaledJobs(), PrinterServer::kMaxReceiving);
    const auto stillConnected = [&] {
        return std::count_if(spooler.begin(), spooler.end(), [](const std::unique_ptr<QTcpSocket> &s) {
            return s->state() == QAbstractSocket::ConnectedState;
        });
    };
    QTRY_COMPARE(int(stillConnected()), PrinterServer::kMaxReceiving);
    // Those taken are jobs like any other: each is posted once it is whole.
    for (auto &connection : spooler) {
        if (connection->state() == QAbstractSocket::ConnectedState) {
            connection->write("bounded job");
            SpoolerFixture::endJob(connection.get());
        }
    }
    QVERIFY(m_sink->waitFor(1, 20000));
    QCOMPARE(m_service->requests().first().body.contains(QByteArray("bounded job").toBase64()), true);
}

// A local program opens two thousand connections and sends nothing. The program must stay up, keep
// its descriptors, and serve the spooler's job right after as if nothing had happened.
void TestListenerGuard::idleFloodNeitherEndsNorStarvesTheListener()
{
    const int before = openDescriptors();
    StrangerProcess flood;
    QVERIFY2(flood.holdIdleConnections(m_server->serverPort(), 2000), qPrintable(flood.error()));
    QElapsedTimer served;
    served.start();
    QVERIFY(spoolerJobIsPosted("a job behind the flood"));
    qInfo("spooler's job posted %lld ms after a flood of 2000 idle connections", served.elapsed());
    // Every one of them refused; most are told by the stranger's process id (a connection made while
    // its owner's descriptor table is read may show no owner, and is refused all the same).
    const auto refused = [&] {
        int all = 0;
        for (const QString &line : m_log->linesContaining(QStringLiteral(" connection(s) from process ")))
            all += line.section(QStringLiteral("refused "), 1).section(QLatin1Char(' '), 0, 0).toInt();
        return all;
    };
    QTRY_COMPARE_WITH_TIMEOUT(refused(), 2000, TestTiming::scaled(30000));
    QVERIFY(m_log->count(QStringLiteral("from process %1 (").arg(flood.processId())) > 0);
    QCOMPARE(journaledJobs(), 1);
    // The refused connections are gone from the program, not held open until the stranger leaves.
    QTRY_VERIFY(openDescriptors() < before + 32);
}

// When the process runs out of descriptors, accepting pauses instead of ending the program or
// stopping the listener for good; once descriptors are free again, the spooler is served.
void TestListenerGuard::runningOutOfDescriptorsOnlyPausesAccepting()
{
    rlimit original {};
    QVERIFY(getrlimit(RLIMIT_NOFILE, &original) == 0);
    StrangerProcess flood;
    // Started first: starting a process takes descriptors of its own.
    QVERIFY2(flood.startIdleConnections(m_server->serverPort(), 200), qPrintable(flood.error()));
    rlimit tight = original;
    tight.rlim_cur = rlim_t(openDescriptors() + 6);
    QVERIFY(setrlimit(RLIMIT_NOFILE, &tight) == 0);
    QTRY_VERIFY_WITH_TIMEOUT(m_log->count(QStringLiteral("accept failed")) > 0, TestTiming::scaled(10000));
    QVERIFY(setrlimit(RLIMIT_NOFILE, &original) == 0);
    QVERIFY2(flood.waitReady(), qPrintable(flood.error()));
    flood.stop();
    QVERIFY(m_server->isListening());
    QVERIFY(spoolerJobIsPosted("a job after the descriptors ran out"));
}

// Another program holds the port when the listener starts: the listener says so, tries again every
// few seconds and has the port, exclusively, as soon as it is free.
void TestListenerGuard::takenPortIsRetriedUntilItIsFree()
{
    auto squatter = std::make_unique<QTcpServer>();
    QVERIFY(squatter->listen(QHostAddress::LocalHost, 0));
    const quint16 port = squatter->serverPort();
    PrinterServer server(printer(port), m_journal);
    connect(&server, &PrinterServer::cloudResule, m_sink, &ResultSink::onResult, Qt::QueuedConnection);
    QSignalSpy taken(&server, &PrinterServer::portTaken);
    server.start();
    QCOMPARE(taken.count(), 1);
    QCOMPARE(taken.at(0).at(0).toBool(), true);
    QVERIFY(server.isPortTaken());
    QVERIFY(!server.isListening());
    // Still taken at the next attempt: nothing more is said.
    QTest::qWait(6000);
    QCOMPARE(taken.count(), 1);

    squatter.reset();
    QVERIFY(taken.wait(TestTiming::scaled(15000)));
    QCOMPARE(taken.at(1).at(0).toBool(), false);
    QVERIFY(server.isListening());
    QCOMPARE(server.serverPort(), port);
    // Ours alone now: nobody else gets to listen there.
    QTcpServer late;
    QVERIFY(!late.listen(QHostAddress::LocalHost, port));
    QVERIFY(!late.listen(QHostAddress::Any, port));
}

// The owner must be known to be the spooler: a table that grew between its size and its read is
// read again, but a table the system will not give, or a spooler that does not run, refuses all.
void TestListenerGuard::unknownOwnersAreRefused()
{
    winsim::failCall("GetExtendedTcpTable", 1, ERROR_INSUFFICIENT_BUFFER);
    QVERIFY(spoolerJobIsPosted("read again"));

    // The spooler's own connection, reset as a stranger's would be.
    const auto isReset = [this] {
        QTcpSocket spooler;
        spooler.connectToHost(QHostAddress::LocalHost, m_server->serverPort());
        return spooler.waitForConnected()
            && QTest::qWaitFor([&] { return spooler.state() == QAbstractSocket::UnconnectedState; }, 5000);
    };
    winsim::failCall("GetExtendedTcpTable", 1, ERROR_NOT_SUPPORTED);
    QVERIFY(isReset());
    QCOMPARE(m_log->count(QStringLiteral("GetExtendedTcpTable failed: 50")), 1);

    winsim::failCall("QueryServiceStatusEx", 1, ERROR_ACCESS_DENIED);
    QVERIFY(isReset());
    QCOMPARE(m_log->count(QStringLiteral("only the spooler (process 0) may print")), 1);

    QCOMPARE(m_service->requests().size(), 1);
    QVERIFY(spoolerJobIsPosted("after the failures"));
}

QTEST_GUILESS_MAIN(TestListenerGuard)
#include "tst_listenerguard.moc"
