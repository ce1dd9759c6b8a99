#include "cloudsimprocess.h"
#include "descriptorserver.h"
#include "httpcapturepeer.h"
#include "logcapture.h"
#include "printerthread.h"
#include "relaysettings.h"
#include "resultsink.h"

#include <QHostAddress>
#include <QJsonArray>
#include <QJsonObject>
#include <QMutex>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

namespace {
const QString kSerial = QStringLiteral("00AB00CD00EF0012");
const QString kJobneed = QStringLiteral("invoice.docx;01:05:09");

DriverInfo printer()
{
    DriverInfo info;
    info.printer_name = QStringLiteral("Front Desk");
    info.cloud_sn = kSerial;
    info.port_name = QStringLiteral("REDadez_9101");
    info.port_num = 9101;
    info.driver_name = QStringLiteral("Varn VN-210K");
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

class TestPrinterThread : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void jobInManyPiecesIsPostedOnceInOrder();
    void emptyJobPostsEmptyData();
    void serviceThatNeverAnswersIsAborted();
    void connectionLeftOpenIsNotPosted();
    void invalidServiceUrlStillReports();
    void unusableDescriptorStillReports();
    void oversizedJobIsReadToItsEndAndRefused();
    void postsOfOnePrinterAreSerialised();
    void announcedSizeIsOnlyAHint_data();
    void announcedSizeIsOnlyAHint();

private:
    // Connects `client` to the loopback listener and starts a receiver on the accepted connection.
    QPointer<PrinterThread> startReceiver(
        QTcpSocket &client, const QString &jobneed = kJobneed, qint64 expectedBytes = 0);
    void sendInPieces(QTcpSocket &client, const QByteArray &job, int pieces);

    DescriptorServer *m_listener = nullptr;
    HttpCapturePeer *m_service = nullptr;
    ResultSink *m_sink = nullptr;
    std::shared_ptr<QMutex> m_mutex = std::make_shared<QMutex>();
    CloudSimProcess m_cloudsim;
};

void TestPrinterThread::initTestCase()
{
    qRegisterMetaType<qintptr>("qintptr");
    QVERIFY(m_cloudsim.start());
}

void TestPrinterThread::init()
{
    m_listener = new DescriptorServer(this);
    QVERIFY(m_listener->listen(QHostAddress::LocalHost, 0));
    m_service = new HttpCapturePeer(this);
    QVERIFY(m_service->listen());
    m_service->setResponse(200, R"({"code":0,"data":{"tolvixId":"J-1"}})");
    m_sink = new ResultSink;
    setCloudServiceBaseForTesting(m_service->base());
}

void TestPrinterThread::cleanup()
{
    resetRelaySettingsForTesting();
    delete m_sink;
    delete m_service;
    delete m_listener;
    // Every test leaves the printer's lock free.
    QVERIFY(m_mutex->try_lock());
    m_mutex->unlock();
}

QPointer<PrinterThread> TestPrinterThread::startReceiver(
    QTcpSocket &client, const QString &jobneed, qint64 expectedBytes)
{
    QSignalSpy accepted(m_listener, &DescriptorServer::accepted);
    client.connectToHost(QHostAddress::LocalHost, m_listener->serverPort());
    if (!accepted.wait() || !client.waitForConnected())
        return nullptr;
    const qintptr descriptor = accepted.takeFirst().at(0).value<qintptr>();
    auto *receiver = new PrinterThread(descriptor, printer(), jobneed, m_mutex);
    receiver->setExpectedJobBytes(expectedBytes);
    connect(receiver, &QThread::finished, receiver, &QObject::deleteLater);
    connect(receiver, &PrinterThread::cloudResult, m_sink, &ResultSink::onResult, Qt::QueuedConnection);
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

void TestPrinterThread::jobInManyPiecesIsPostedOnceInOrder()
{
    setCloudServiceBaseForTesting(m_cloudsim.baseUrl());
    QVERIFY(m_cloudsim.reset());
    LogCapture log;
    const QByteArray job = patternedJob(300000);
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    sendInPieces(client, job, 120);
    client.disconnectFromHost();

    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(m_sink->jobneed(0), kJobneed);
    QCOMPARE(m_sink->jobSize(0), job.size());
    const QString jobId = m_sink->jobId(0);
    const QJsonArray jobs = m_cloudsim.jobs();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.first().toObject().value(QStringLiteral("jobId")).toString(), jobId);
    QCOMPARE(jobs.first().toObject().value(QStringLiteral("serial")).toString(), kSerial);
    QVERIFY(m_cloudsim.jobData(jobId) == job);

    QTRY_VERIFY(receiver.isNull());
    QCOMPARE(m_sink->results.size(), 1);
    QCOMPARE(log.count(QStringLiteral("59_PrinterThread")), 1);
    QCOMPARE(log.linesContaining(QStringLiteral("59_PrinterThread"))
                 .first()
                 .contains(QStringLiteral("Front Desk, port: %1 disconnect").arg(m_listener->serverPort())),
        true);
    QCOMPARE(log.count(QStringLiteral("run finished")), 1);
    // The receiver's last word names the cloud serial, not the printer.
    const QStringList last = log.linesContaining(QStringLiteral("18_PrinterThread"));
    QCOMPARE(last.size(), 1);
    QVERIFY(last.first().endsWith(QStringLiteral("%1 printComplete").arg(kSerial)));
    QVERIFY(!last.first().contains(QStringLiteral("Front Desk")));
}

void TestPrinterThread::emptyJobPostsEmptyData()
{
    // The wire form of the body is checked here; the stand-in decodes it.
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.disconnectFromHost();

    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_service->requests().size(), 1);
    const QJsonObject body = QJsonDocument::fromJson(m_service->requests().first().body).object();
    QCOMPARE(body.value(QStringLiteral("printData")), QJsonValue(QString()));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(m_sink->jobSize(0), 0);
    QTRY_VERIFY(receiver.isNull());

    setCloudServiceBaseForTesting(m_cloudsim.baseUrl());
    QVERIFY(m_cloudsim.reset());
    QTcpSocket second;
    receiver = startReceiver(second);
    QVERIFY(receiver);
    second.disconnectFromHost();
    QVERIFY(m_sink->waitFor(2));
    QCOMPARE(m_sink->results.at(1).error, QNetworkReply::NoError);
    const QJsonArray jobs = m_cloudsim.jobs();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.first().toObject().value(QStringLiteral("size")).toInt(-1), 0);
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::serviceThatNeverAnswersIsAborted()
{
    setCloudReplyTimeoutForTesting(300);
    setCloudServiceBaseForTesting(m_cloudsim.baseUrl());
    QVERIFY(m_cloudsim.reset());
    QVERIFY(m_cloudsim.configure(R"({"print": {"delayMs": 5000}})"));
    LogCapture log;
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.write("job bytes");
    client.disconnectFromHost();

    QVERIFY(m_sink->waitFor(1));
    QVERIFY(m_cloudsim.configure(R"({"print": {"delayMs": 0}})"));
    QCOMPARE(m_cloudsim.stats()
                 .value(QStringLiteral("print"))
                 .toObject()
                 .value(QStringLiteral("requests"))
                 .toInt(),
        1);
    QCOMPARE(m_sink->results.first().error, QNetworkReply::OperationCanceledError);
    QCOMPARE(m_sink->jobneed(0), kJobneed);
    QCOMPARE(m_sink->jobSize(0), 9);
    QTRY_COMPARE(log.count(QStringLiteral("Timeout occur")), 1);
    QTRY_VERIFY(receiver.isNull());
    QCOMPARE(log.count(QStringLiteral("17_Cloud destruct")), 1);
}

void TestPrinterThread::connectionLeftOpenIsNotPosted()
{
    setJobReceiveTimeoutForTesting(300);
    LogCapture log;
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.write(patternedJob(777));
    QVERIFY(client.waitForBytesWritten());

    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::TimeoutError);
    QCOMPARE(m_sink->jobSize(0), 777);
    QCOMPARE(m_sink->jobneed(0), kJobneed);
    QTRY_VERIFY(receiver.isNull());
    // The receiver dropped the connection, and nothing reached the service, not even at teardown.
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
    QVERIFY(m_service->requests().isEmpty());
    QCOMPARE(m_sink->results.size(), 1);
    QCOMPARE(log.count(QStringLiteral("run finished")), 1);
    QCOMPARE(log.count(QStringLiteral("59_PrinterThread")), 0);
}

void TestPrinterThread::invalidServiceUrlStillReports()
{
    // The tolerant URL parsing accepts nearly anything; an unclosed bracket in the host it does not.
    setCloudServiceBaseForTesting(QStringLiteral("//["));
    LogCapture log;
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.write("never posted");

    QVERIFY(m_sink->waitFor(1));
    const QNetworkReply::NetworkError error = m_sink->results.first().error;
    QVERIFY(error != QNetworkReply::NoError && error != QNetworkReply::UnknownContentError);
    QCOMPARE(m_sink->jobneed(0), kJobneed);
    QCOMPARE(m_sink->jobSize(0), 0);
    QCOMPARE(log.count(QStringLiteral("Invalid url: ")), 1);
    QTRY_VERIFY(receiver.isNull());
    QTRY_COMPARE(client.state(), QAbstractSocket::UnconnectedState);
}

void TestPrinterThread::unusableDescriptorStillReports()
{
    LogCapture log;
    QPointer<PrinterThread> receiver = new PrinterThread(-1, printer(), kJobneed, m_mutex);
    connect(receiver, &QThread::finished, receiver, &QObject::deleteLater);
    connect(receiver, &PrinterThread::cloudResult, m_sink, &ResultSink::onResult, Qt::QueuedConnection);
    int socketErrors = 0;
    connect(
        receiver, &PrinterThread::error, m_sink, [&socketErrors] { ++socketErrors; }, Qt::QueuedConnection);
    receiver->start();

    QVERIFY(m_sink->waitFor(1));
    const QNetworkReply::NetworkError error = m_sink->results.first().error;
    QVERIFY(error != QNetworkReply::NoError && error != QNetworkReply::UnknownContentError);
    QCOMPARE(m_sink->jobSize(0), 0);
    QTRY_VERIFY(receiver.isNull());
    QCOMPARE(socketErrors, 1);
    QCOMPARE(log.count(QStringLiteral("25_PrinterThread")), 1);
    QVERIFY(m_service->requests().isEmpty());
}

void TestPrinterThread::oversizedJobIsReadToItsEndAndRefused()
{
    setMaxJobBytesForTesting(10000);
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    // Far more than the kernel's buffers hold: it only all goes out if the receiver keeps reading.
    const QByteArray job = patternedJob(4 << 20);
    sendInPieces(client, job, 64);
    client.disconnectFromHost();

    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::UnknownContentError);
    QCOMPARE(m_sink->jobSize(0), job.size());
    QCOMPARE(m_sink->jobneed(0), kJobneed);
    QTRY_VERIFY(receiver.isNull());
    QVERIFY(m_service->requests().isEmpty());

    // A job right at the bound still goes out whole.
    QTcpSocket second;
    receiver = startReceiver(second);
    QVERIFY(receiver);
    sendInPieces(second, patternedJob(10000), 7);
    second.disconnectFromHost();
    QVERIFY(m_sink->waitFor(2));
    QCOMPARE(m_sink->results.at(1).error, QNetworkReply::NoError);
    QCOMPARE(m_service->requests().size(), 1);
    QVERIFY(postedJob(m_service->requests().first()) == patternedJob(10000));
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::postsOfOnePrinterAreSerialised()
{
    // While an earlier post of the printer is unresolved the lock is held; a finished job waits.
    m_mutex->lock();
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client);
    QVERIFY(receiver);
    client.write("second job");
    client.disconnectFromHost();

    QSignalSpy requests(m_service, &HttpCapturePeer::requestReceived);
    QVERIFY(!requests.wait(500));
    m_mutex->unlock();
    QVERIFY(requests.wait());
    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(postedJob(m_service->requests().first()), QByteArray("second job"));
    QTRY_VERIFY(receiver.isNull());
}

void TestPrinterThread::announcedSizeIsOnlyAHint_data()
{
    QTest::addColumn<qint64>("announced");
    QTest::addColumn<int>("sent");
    QTest::newRow("as announced") << qint64(200001) << 200001;
    QTest::newRow("more than announced") << qint64(1000) << 200001;
    QTest::newRow("less than announced") << qint64(5 << 20) << 200001;
    QTest::newRow("nothing after an announcement") << qint64(4096) << 0;
}

void TestPrinterThread::announcedSizeIsOnlyAHint()
{
    QFETCH(qint64, announced);
    QFETCH(int, sent);
    const QByteArray job = patternedJob(sent);
    QTcpSocket client;
    QPointer<PrinterThread> receiver = startReceiver(client, kJobneed, announced);
    QVERIFY(receiver);
    sendInPieces(client, job, 17);
    client.disconnectFromHost();

    QVERIFY(m_sink->waitFor(1));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(m_sink->jobSize(0), sent);
    QCOMPARE(m_service->requests().size(), 1);
    QVERIFY(postedJob(m_service->requests().first()) == job);
    QTRY_VERIFY(receiver.isNull());
}

QTEST_GUILESS_MAIN(TestPrinterThread)
#include "tst_printerthread.moc"
