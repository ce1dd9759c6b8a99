#include "cloudsimprocess.h"
#include "httpcapturepeer.h"
#include "logcapture.h"
#include "printerserver.h"
#include "relaysettings.h"
#include "resultsink.h"
#include "winsim/winsimcontrol.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QtTest>

#include <memory>
#include <vector>

namespace {
DriverInfo printer()
{
    DriverInfo info;
    info.printer_name = QStringLiteral("Back Office");
    info.cloud_sn = QStringLiteral("0011223344556677");
    info.port_name = QStringLiteral("REDadez_9102");
    info.port_num = 0;
    info.driver_name = QStringLiteral("Varn VN-210K");
    info.ip = QStringLiteral("127.0.0.1");
    return info;
}

QString postedSerial(const CapturedRequest &request)
{
    const QJsonObject body = QJsonDocument::fromJson(request.body).object();
    return body.value(QStringLiteral("tvNumber")).toArray().at(0).toString();
}
} // namespace

class TestPrinterServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void jobIsRelayedAndPortMarkedBusy();
    void secondConnectionWaitsUnreadUntilPortIsFree();
    void connectionsWhileBusyAreAllServedInOrder();
    void newRecordReachesTheNextReceiverOnly();
    void destructionClosesWaitingConnections();
    void listenerDeletedMidPostLeavesTheReceiverSafe();

private:
    // A spooler connection that sends `job` and closes; returns once the server has accepted it.
    bool sendJob(const QByteArray &job);

    LogCapture *m_log = nullptr;
    PrinterServer *m_server = nullptr;
    HttpCapturePeer *m_service = nullptr;
    ResultSink *m_sink = nullptr;
    std::vector<std::unique_ptr<QTcpSocket>> m_clients;
    CloudSimProcess m_cloudsim;
};

void TestPrinterServer::initTestCase()
{
    // A spooler without printers: the listener finds no printing job to describe.
    QVERIFY(winsim::reset());
    QVERIFY(m_cloudsim.start());
}

void TestPrinterServer::init()
{
    m_log = new LogCapture;
    m_service = new HttpCapturePeer(this);
    QVERIFY(m_service->listen());
    m_service->setResponse(200, R"({"code":0,"data":{"tolvixId":"J-1"}})");
    setCloudServiceBaseForTesting(m_service->base());
    m_sink = new ResultSink;
    m_server = new PrinterServer(printer());
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    connect(m_server, &PrinterServer::cloudResule, m_sink, &ResultSink::onResult, Qt::QueuedConnection);
}

void TestPrinterServer::cleanup()
{
    if (QTest::currentTestFailed()) {
        for (const QString &line : m_log->lines())
            fprintf(stderr, "  log: %s\n", qPrintable(line));
    }
    m_clients.clear();
    delete m_server;
    delete m_sink;
    delete m_service;
    delete m_log;
    resetRelaySettingsForTesting();
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
    client->disconnectFromHost();
    // The next connection must not overtake this one at the listener.
    return QTest::qWaitFor(
        [&] { return m_log->count(QStringLiteral("24_PrinterServer incomingConnection")) == accepted + 1; },
        5000);
}

void TestPrinterServer::jobIsRelayedAndPortMarkedBusy()
{
    QVERIFY(sendJob("first job"));
    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(postedJob(m_service->requests().first()), QByteArray("first job"));
    QCOMPARE(postedSerial(m_service->requests().first()), QStringLiteral("0011223344556677"));
    // Nothing prints in the spooler of this machine for the printer, so the description is empty.
    QCOMPARE(m_sink->jobneed(0), QString());
    QCOMPARE(m_sink->jobSize(0), 9);

    const QStringList accepted
        = m_log->linesContaining(QStringLiteral("24_PrinterServer incomingConnection"));
    QCOMPARE(accepted.size(), 1);
    QVERIFY(accepted.first().endsWith(QStringLiteral(";port_busy= false")));
    QCOMPARE(m_log->count(QStringLiteral("51_PrinterServer PortBusy: true")), 1);
    // The receiver cleans up after itself.
    QTRY_COMPARE(m_log->count(QStringLiteral("printComplete")), 1);
}

void TestPrinterServer::secondConnectionWaitsUnreadUntilPortIsFree()
{
    QVERIFY(sendJob("job one"));
    QVERIFY(m_sink->waitFor(1));

    // The card still follows job one: job two is accepted but waits, and no receiver reads it.
    QVERIFY(sendJob("job two"));
    QVERIFY(m_log->linesContaining(QStringLiteral("24_PrinterServer incomingConnection"))
                .last()
                .endsWith(QStringLiteral(";port_busy= true")));
    QVERIFY(!m_sink->waitFor(2, 2200));
    QCOMPARE(m_log->count(QStringLiteral("12_PrinterThread init")), 1);
    QCOMPARE(m_service->requests().size(), 1);
    QVERIFY(m_log->count(QStringLiteral("57_PrinterServer on_BusyTimeout:")) >= 2);

    // The card reports the job final: the next tick serves the waiting connection.
    m_server->on_PortBusy(false);
    QCOMPARE(m_log->count(QStringLiteral("51_PrinterServer PortBusy: false")), 1);
    QTRY_COMPARE_WITH_TIMEOUT(m_log->count(QStringLiteral("12_PrinterThread init")), 2, 1500);
    QVERIFY(m_sink->waitFor(2));
    QCOMPARE(m_service->requests().size(), 2);
    QCOMPARE(postedJob(m_service->requests().at(1)), QByteArray("job two"));
    QCOMPARE(m_sink->jobSize(1), 7);
}

void TestPrinterServer::connectionsWhileBusyAreAllServedInOrder()
{
    // The card follows an earlier job.
    m_server->on_PortBusy(true);
    for (int i = 1; i <= 3; ++i)
        QVERIFY(sendJob(QByteArray("waiting job ") + QByteArray::number(i)));
    for (int i = 1; i <= 3; ++i) {
        m_server->on_PortBusy(false);
        QVERIFY(m_sink->waitFor(i));
        QCOMPARE(m_service->requests().size(), i);
        QCOMPARE(
            postedJob(m_service->requests().at(i - 1)), QByteArray("waiting job ") + QByteArray::number(i));
        // Receiving marked the port busy again, so the rest keep waiting until the card frees it.
        QVERIFY(!m_sink->waitFor(i + 1, 1300));
    }
    QCOMPARE(m_sink->results.size(), 3);
}

void TestPrinterServer::newRecordReachesTheNextReceiverOnly()
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
    QTRY_COMPARE(m_log->count(QStringLiteral("8899AABBCCDDEEFF printComplete")), 1);
}

void TestPrinterServer::destructionClosesWaitingConnections()
{
    m_server->on_PortBusy(true);
    QVERIFY(sendJob("never served"));
    QTcpSocket *waiting = m_clients.back().get();
    delete m_server;
    m_server = nullptr;
    QVERIFY(m_log->lines().contains(QStringLiteral("Back Office 18_PrinterServer destruct")));
    // The spooler learns at once that nobody will take its job.
    QTRY_COMPARE(waiting->state(), QAbstractSocket::UnconnectedState);
    QVERIFY(m_service->requests().isEmpty());
}

void TestPrinterServer::listenerDeletedMidPostLeavesTheReceiverSafe()
{
    // The stand-in answers late, so the printer's listener goes while its receiver is posting.
    QVERIFY(m_cloudsim.reset());
    QVERIFY(m_cloudsim.configure(R"({"print": {"delayMs": 700}})"));
    setCloudServiceBaseForTesting(m_cloudsim.baseUrl());
    // As an added printer's listener is: a child of its card, which goes after the printer's removal.
    auto *card = new QObject;
    auto *server = new PrinterServer(printer(), card);
    QVERIFY(server->listen(QHostAddress::LocalHost, 0));
    ResultSink cardSink;
    connect(server, &PrinterServer::cloudResule, &cardSink, &ResultSink::onResult, Qt::QueuedConnection);

    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server->serverPort());
    QVERIFY(client.waitForConnected());
    client.write("a job whose printer is deleted meanwhile");
    QVERIFY(client.waitForBytesWritten());
    client.disconnectFromHost();
    // The receiver now holds the printer's post lock and waits for the answer.
    QTRY_COMPARE_WITH_TIMEOUT(m_log->count(QStringLiteral("45_Cloud request post to:")), 1, 5000);

    QPointer<QObject> cardAlive(card);
    card->deleteLater();
    QTRY_VERIFY(cardAlive.isNull());
    QVERIFY(m_log->lines().contains(QStringLiteral("Back Office 18_PrinterServer destruct")));

    // The answer comes to a receiver whose listener is gone: it unlocks, passes the result nowhere
    // and finishes as always. The result would have been queued before the receiver's last word.
    QTRY_COMPARE_WITH_TIMEOUT(m_log->count(QStringLiteral("printComplete")), 1, 5000);
    QCOMPARE(cardSink.results.size(), 0);
    QCOMPARE(m_cloudsim.jobs().size(), 1);
    QCOMPARE(m_log->count(QStringLiteral("Timeout occur")), 0);
    // The lock went with the last receiver that held a share, and it was free by then.
    QCOMPARE(m_log->count(QStringLiteral("destroying locked mutex")), 0);
}

QTEST_GUILESS_MAIN(TestPrinterServer)
#include "tst_printerserver.moc"
