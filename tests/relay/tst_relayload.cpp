#include "cloudsimprocess.h"
#include "liveobjects.h"
#include "logcapture.h"
#include "printerserver.h"
#include "programwaits.h"
#include "resultsink.h"
#include "spoolerfixture.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QtTest>

// Many jobs through one listener: nothing of a finished job may stay behind.
class TestRelayLoad : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void manyJobsLeaveNothingBehind();

private:
    // One job from connection to result, with the port freed afterwards as the card does.
    bool relayOneJob(int i);

    CloudSimProcess m_service;
    PrinterServer *m_server = nullptr;
    ResultSink *m_sink = nullptr;
};

void TestRelayLoad::initTestCase()
{
    QVERIFY(m_service.start());
    ProgramWaits waits;
    waits.cloudServiceBase = m_service.baseUrl();
    ProgramWaits::setForTesting(waits);
    // The suite's own sockets play the spooler.
    QVERIFY(SpoolerFixture::playSpooler());
    DriverInfo info;
    info.printer_name = QStringLiteral("Busy Printer");
    info.cloud_sn = QStringLiteral("0123456789ABCDEF");
    m_server = new PrinterServer(info);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    m_sink = new ResultSink;
    connect(m_server, &PrinterServer::cloudResule, m_sink, &ResultSink::onResult, Qt::QueuedConnection);
}

void TestRelayLoad::cleanupTestCase()
{
    delete m_server;
    delete m_sink;
    ProgramWaits::resetForTesting();
}

bool TestRelayLoad::relayOneJob(int i)
{
    const int before = m_sink->results.size();
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, m_server->serverPort());
    if (!client.waitForConnected())
        return false;
    client.write(QByteArray(2000 + i, char('a' + i % 26)));
    if (!client.waitForBytesWritten())
        return false;
    SpoolerFixture::endJob(&client);
    if (!m_sink->waitFor(before + 1, 10000))
        return false;
    m_server->on_PortBusy(false);
    return m_sink->results.last().error == QNetworkReply::NoError;
}

void TestRelayLoad::manyJobsLeaveNothingBehind()
{
    LogCapture log;
    LiveObjects census;
    // The first jobs set up what the network layer keeps for the whole process.
    for (int i = 0; i < 10; ++i)
        QVERIFY(relayOneJob(i));
    QTRY_COMPARE(log.count(QStringLiteral("printComplete")), 10);
    // The stand-in's admin client sets up the network layer's process-wide parts on its first use.
    QCOMPARE(m_service.jobs().size(), 10);
    const int settled = LiveObjects::total();

    constexpr int jobs = 200;
    for (int i = 0; i < jobs; ++i)
        QVERIFY2(relayOneJob(i), qPrintable(QStringLiteral("job %1").arg(i)));
    QCOMPARE(m_service.jobs().size(), 10 + jobs);

    // Every receiver, client and reply goes away once its job is done. A leak of any of them would
    // show as hundreds of objects; the slack is for the network layer's own bookkeeping, which comes
    // and goes with its idle connections.
    QTRY_COMPARE(log.count(QStringLiteral("printComplete")), 10 + jobs);
    QCOMPARE(log.count(QStringLiteral("17_Cloud destruct")), 10 + jobs);
    QTRY_VERIFY2(LiveObjects::total() <= settled + 5,
        qPrintable(QStringLiteral("%1 objects alive, %2 after the first jobs")
                       .arg(LiveObjects::total())
                       .arg(settled)));
}

QTEST_GUILESS_MAIN(TestRelayLoad)
#include "tst_relayload.moc"
