#include "cloud.h"
#include "cloudsimprocess.h"
#include "logcapture.h"
#include "rawhttppeer.h"
#include "testprinters.h"
#include "testtiming.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QString kSerial = QStringLiteral("00AB00CD00EF0012");
const QString kJobneed = QStringLiteral("report.pdf;01:05:09");

DriverInfo printer()
{
    DriverInfo info;
    info.printer_name = QStringLiteral("Cloud Printer");
    info.cloud_sn = kSerial;
    info.port_name = QStringLiteral("REDadez_9100");
    info.port_num = 9100;
    info.driver_name = TestPrinters::driverName();
    info.ip = QStringLiteral("127.0.0.1");
    return info;
}

QStringList sortedKeys(const QJsonDocument &document)
{
    QStringList keys = document.object().keys();
    keys.sort();
    return keys;
}
} // namespace

class TestCloud : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void printBodyOnTheWire_data();
    void printBodyOnTheWire();
    void answerIsMergedWithLocalMembers();
    void invalidUrlSendsNothing_data();
    void invalidUrlSendsNothing();
    void serviceKeepsTheJob();
    void serviceFaults_data();
    void serviceFaults();
    void bodyOverTheServiceLimitGives299();

private:
    // Posts one job to the service at base and waits for the client's result.
    QList<QVariant> post(const QString &base, const QByteArray &job);

    CloudSimProcess m_service;
};

void TestCloud::initTestCase()
{
    qRegisterMetaType<QNetworkReply::NetworkError>();
    QVERIFY(m_service.start());
}

QList<QVariant> TestCloud::post(const QString &base, const QByteArray &job)
{
    QPointer<Cloud> cloud = new Cloud(base + QStringLiteral("/v1.1/transparentPrinting"), printer());
    QSignalSpy results(cloud.data(), &Cloud::cloudResule);
    if (!cloud->request(job, job.size(), kJobneed) || !results.wait(TestTiming::scaled(10000))
        || results.count() != 1)
        return QList<QVariant>();
    // Reported once, then the client and its reply go away whatever the outcome.
    QPointer<QNetworkReply> reply = cloud->reply();
    if (!QTest::qWaitFor([&] { return cloud.isNull() && reply.isNull(); }, 5000))
        return QList<QVariant>();
    return results.first();
}

void TestCloud::printBodyOnTheWire_data()
{
    QTest::addColumn<QByteArray>("job");
    QTest::newRow("abc") << QByteArray("abc");
    QTest::newRow("empty job") << QByteArray();
    QTest::newRow("binary") << QByteArray("\x1b%-12345X@PJL\x00\xff\r\n", 16);
}

void TestCloud::printBodyOnTheWire()
{
    QFETCH(QByteArray, job);
    RawHttpPeer peer;
    QVERIFY(peer.listen());
    peer.setResponse(200, R"({"code":0,"data":{"tolvixId":"J-1"}})");

    QPointer<Cloud> cloud = new Cloud(peer.base() + QStringLiteral("/v1.1/transparentPrinting"), printer());
    QSignalSpy results(cloud.data(), &Cloud::cloudResule);
    QVERIFY(cloud->request(job, job.size(), kJobneed));
    QPointer<QNetworkReply> reply = cloud->reply();
    QVERIFY(reply);
    QVERIFY(results.wait(TestTiming::scaled(15000)));
    QCOMPARE(results.count(), 1);

    QCOMPARE(peer.requests().size(), 1);
    const CapturedRequest request = peer.requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/v1.1/transparentPrinting"));
    QCOMPARE(request.headers.value("content-type"), QByteArray("application/json;charset=UTF-8"));
    QVERIFY(!request.headers.contains("cookie"));

    const QJsonObject expected {
        { QStringLiteral("tvNumber"), QJsonArray { kSerial } },
        { QStringLiteral("taskPersist"), false },
        { QStringLiteral("async"), true },
        { QStringLiteral("dataType"), QStringLiteral("base64") },
        { QStringLiteral("printData"), QString::fromLatin1(job.toBase64()) },
    };
    QCOMPARE(request.body, QJsonDocument(expected).toJson(QJsonDocument::Indented));
    QVERIFY(!request.body.contains("jobneed"));
    QVERIFY(!request.body.contains("jobSize"));

    // The local members come back with the result.
    const QJsonObject result = results.first().at(1).value<QJsonDocument>().object();
    QCOMPARE(results.first().at(0).value<QNetworkReply::NetworkError>(), QNetworkReply::NoError);
    QCOMPARE(result.value(QStringLiteral("jobneed")).toString(), kJobneed);
    QCOMPARE(result.value(QStringLiteral("jobSize")).toInt(-1), job.size());

    // One job per client: it goes away together with its reply.
    QTRY_VERIFY(cloud.isNull());
    QVERIFY(reply.isNull());
}

void TestCloud::answerIsMergedWithLocalMembers()
{
    RawHttpPeer peer;
    QVERIFY(peer.listen());
    // A service that happens to use the local names must not override what the card records.
    peer.setResponse(200, R"({"code":0,"data":{"tolvixId":"J-7"},"jobneed":"theirs","jobSize":"x"})");
    LogCapture log;

    Cloud *cloud = new Cloud(peer.base() + QStringLiteral("/v1.1/transparentPrinting"), printer());
    QSignalSpy results(cloud, &Cloud::cloudResule);
    QVERIFY(cloud->request(QByteArray(1234, 'x'), 1234, kJobneed));
    QVERIFY(results.wait(TestTiming::scaled(15000)));

    const QJsonDocument document = results.first().at(1).value<QJsonDocument>();
    QCOMPARE(sortedKeys(document),
        QStringList({ QStringLiteral("code"), QStringLiteral("data"), QStringLiteral("jobSize"),
            QStringLiteral("jobneed") }));
    QCOMPARE(document.object().value(QStringLiteral("data")).toObject().value(QStringLiteral("tolvixId")),
        QJsonValue(QStringLiteral("J-7")));
    QCOMPARE(document.object().value(QStringLiteral("jobneed")), QJsonValue(kJobneed));
    QCOMPARE(document.object().value(QStringLiteral("jobSize")), QJsonValue(1234));
    QCOMPARE(log.count(
                 QStringLiteral("56_Cloud Cloud Printer 00AB00CD00EF0012 reply no error,status code is 200")),
        1);
    QCOMPARE(log.count(QStringLiteral("45_Cloud request post to:")), 1);
    QTRY_COMPARE(log.count(QStringLiteral("17_Cloud destruct")), 1);
}

void TestCloud::invalidUrlSendsNothing_data()
{
    QTest::addColumn<QString>("url");
    QTest::newRow("empty") << QString();
    QTest::newRow("blank") << QStringLiteral("  ");
}

void TestCloud::invalidUrlSendsNothing()
{
    QFETCH(QString, url);
    LogCapture log;
    Cloud cloud(url, printer());
    QSignalSpy results(&cloud, &Cloud::cloudResule);
    QVERIFY(!cloud.request("abc", 3, kJobneed));
    QVERIFY(cloud.reply() == nullptr);
    QCOMPARE(log.count(QStringLiteral("28_Cloud Invalid URL: %1: ").arg(url)), 1);
    QVERIFY(!results.wait(200));
}

void TestCloud::serviceKeepsTheJob()
{
    QVERIFY(m_service.configure(R"({"print": {"fault": "none"}})"));
    QByteArray job(100000, Qt::Uninitialized);
    for (int i = 0; i < job.size(); ++i)
        job[i] = char(i % 251);
    const QList<QVariant> first = post(m_service.baseUrl(), job);
    const QList<QVariant> second = post(m_service.baseUrl(), "second");
    QVERIFY(!first.isEmpty() && !second.isEmpty());
    QCOMPARE(first.at(0).value<QNetworkReply::NetworkError>(), QNetworkReply::NoError);

    const auto jobIdOf = [](const QList<QVariant> &result) {
        return result.at(1)
            .value<QJsonDocument>()
            .object()
            .value(QStringLiteral("data"))
            .toObject()
            .value(QStringLiteral("tolvixId"))
            .toString();
    };
    const QString firstId = jobIdOf(first);
    QVERIFY(!firstId.isEmpty());
    QVERIFY(firstId != jobIdOf(second));
    QVERIFY(m_service.jobData(firstId) == job);
    QCOMPARE(m_service.jobData(jobIdOf(second)), QByteArray("second"));
    const QJsonArray jobs = m_service.jobs();
    QCOMPARE(jobs.size(), 2);
    QCOMPARE(jobs.at(0).toObject().value(QStringLiteral("serial")).toString(), kSerial);
}

void TestCloud::serviceFaults_data()
{
    QTest::addColumn<QString>("fault");
    // -1: any network error other than 299, which the card reports as a network failure.
    QTest::addColumn<int>("error");
    QTest::newRow("404") << QStringLiteral("404") << -1;
    QTest::newRow("413") << QStringLiteral("413") << int(QNetworkReply::UnknownContentError);
    QTest::newRow("500") << QStringLiteral("500") << -1;
    QTest::newRow("dropped connection") << QStringLiteral("drop") << -1;
    QTest::newRow("empty array") << QStringLiteral("empty-array") << int(QNetworkReply::NoError);
    QTest::newRow("not JSON") << QStringLiteral("non-json") << int(QNetworkReply::NoError);
}

void TestCloud::serviceFaults()
{
    QFETCH(QString, fault);
    QFETCH(int, error);
    QVERIFY(m_service.configure(QStringLiteral(R"({"print": {"fault": "%1"}})").arg(fault).toUtf8()));
    LogCapture log;
    const QList<QVariant> result = post(m_service.baseUrl(), "abc");
    QVERIFY(m_service.configure(R"({"print": {"fault": "none"}})"));
    QVERIFY(!result.isEmpty());

    const QNetworkReply::NetworkError got = result.at(0).value<QNetworkReply::NetworkError>();
    if (error == -1) {
        QVERIFY(got != QNetworkReply::NoError);
        QVERIFY(got != QNetworkReply::UnknownContentError);
    } else {
        QCOMPARE(int(got), error);
    }
    // Whatever came back, the card gets an object with the two local members, and only them.
    const QJsonDocument document = result.at(1).value<QJsonDocument>();
    QVERIFY(document.isObject());
    QCOMPARE(sortedKeys(document), QStringList({ QStringLiteral("jobSize"), QStringLiteral("jobneed") }));
    QCOMPARE(document.object().value(QStringLiteral("jobSize")), QJsonValue(3));
    if (got == QNetworkReply::NoError) {
        QCOMPARE(log.count(QStringLiteral("56_Cloud get")), 1);
        QCOMPARE(log.count(QStringLiteral("69_Cloud receive err")), 0);
    } else {
        QCOMPARE(log.count(QStringLiteral("69_Cloud receive err: ")), 1);
        QVERIFY(log.linesContaining(QStringLiteral("69_Cloud receive err: "))
                    .first()
                    .endsWith(QStringLiteral(", code: %1").arg(int(got))));
    }
}

void TestCloud::bodyOverTheServiceLimitGives299()
{
    CloudSimProcess small;
    QVERIFY(small.start({ QStringLiteral("--max-body"), QStringLiteral("4K") }));
    const QList<QVariant> result = post(small.baseUrl(), QByteArray(20000, 'x'));
    QVERIFY(!result.isEmpty());
    QCOMPARE(result.at(0).value<QNetworkReply::NetworkError>(), QNetworkReply::UnknownContentError);
    QCOMPARE(
        result.at(1).value<QJsonDocument>().object().value(QStringLiteral("jobSize")), QJsonValue(20000));
    QVERIFY(small.jobs().isEmpty());
}

QTEST_GUILESS_MAIN(TestCloud)
#include "tst_cloud.moc"
