// The cloud service stand-in as a client of the program meets it: the real process on a free
// loopback port, spoken to through QNetworkAccessManager.

#include "cloudsimprocess.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRandomGenerator>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace {

const QString Online = QStringLiteral("0123456789ABCDEF");
const QString Offline = QStringLiteral("1111111111111111");
const QString Unbound = QStringLiteral("2222222222222222");
const QString Unknown = QStringLiteral("FFFFFFFFFFFFFFFF");
const QString Printing = QStringLiteral("正在打印");

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.bounded(256));
    return bytes;
}

QString jobIdOf(const HttpResult &result)
{
    return CloudSimProcess::objectOf(result)
        .value(QStringLiteral("data"))
        .toObject()
        .value(QStringLiteral("tolvixId"))
        .toString();
}

QJsonValue dataOf(const HttpResult &result)
{
    return CloudSimProcess::objectOf(result).value(QStringLiteral("data"));
}

QJsonObject statusObject(const QString &serial, const QString &status)
{
    return QJsonObject { { serial, status } };
}

QJsonObject exchangeStats(CloudSimProcess &sim, const char *exchange)
{
    return sim.stats().value(QLatin1String(exchange)).toObject();
}

} // namespace

class TestCloudSim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void printThenPollUntilFinal();
    void jobBytesArriveUnchanged_data();
    void jobBytesArriveUnchanged();
    void finalStatus_data();
    void finalStatus();
    void deviceStateCountsWhenTheJobEnds();
    void unknownAndEncodedJobIds();
    void deviceState_data();
    void deviceState();
    void faults_data();
    void faults();
    void faultSkipAndCount();
    void slowAnswerIsHeldThenGiven();
    void requestChecks_data();
    void requestChecks();
    void tooLargeBodiesAre413();
    void adminConfigIsAllOrNothing();
    void resetForgetsJobsAndRestoresStart();
    void commandLine();
    void stopsWithTheProcessThatStartedIt();

private:
    QString jobFile(const QString &id) const { return m_jobsDir.filePath(id + QStringLiteral(".bin")); }
    QStringList indexLines() const;

    QTemporaryDir m_jobsDir;
    CloudSimProcess m_sim;
};

void TestCloudSim::initTestCase()
{
    QVERIFY(m_jobsDir.isValid());
    // The suite names the jobs folder itself and reads the service's error output.
    m_sim.setKeepJobFiles(false);
    m_sim.setKeepErrorOutput(true);
    QVERIFY2(m_sim.start({ QStringLiteral("--jobs-dir"), m_jobsDir.path(), QStringLiteral("--device"),
                 Online + QStringLiteral("=online"), QStringLiteral("--device"),
                 Offline + QStringLiteral("=offline"), QStringLiteral("--device"),
                 Unbound + QStringLiteral("=unbound") }),
        qPrintable(m_sim.process().readAllStandardError()));
}

void TestCloudSim::init()
{
    QVERIFY(m_sim.reset());
}

void TestCloudSim::cleanupTestCase()
{
    QCOMPARE(m_sim.stop(), 0);
    // In sanitizer builds the service reports what it found on stderr.
    const QByteArray errors = m_sim.process().readAllStandardError();
    QVERIFY2(!errors.contains("Sanitizer") && !errors.contains("runtime error"), errors.constData());
}

QStringList TestCloudSim::indexLines() const
{
    QFile index(m_jobsDir.filePath(QStringLiteral("index.tsv")));
    if (!index.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromUtf8(index.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

void TestCloudSim::printThenPollUntilFinal()
{
    const HttpResult posted = m_sim.postJob(Online, "abc");
    QCOMPARE(posted.error, QNetworkReply::NoError);
    QCOMPARE(CloudSimProcess::objectOf(posted).value(QStringLiteral("code")).toInt(-1), 0);
    const QString id = jobIdOf(posted);
    QVERIFY(!id.isEmpty());

    QFile file(jobFile(id));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("abc"));
    const QStringList fields = indexLines().value(0).split(QLatin1Char('\t'));
    QCOMPARE(fields.size(), 5);
    QCOMPARE(fields.at(0), id);
    QCOMPARE(fields.at(1), Online);
    QCOMPARE(fields.at(2), QStringLiteral("3"));
    QVERIFY(QDateTime::fromString(fields.at(3), Qt::ISODateWithMs).isValid());
    QCOMPARE(fields.at(4), QStringLiteral("352441c2")); // CRC-32 of "abc"

    // Two answers while printing, then the final one, which stays.
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, Printing)));
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, Printing)));
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, QStringLiteral("打印成功"))));
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, QStringLiteral("打印成功"))));

    const QJsonArray jobs = m_sim.jobs();
    QCOMPARE(jobs.size(), 1);
    const QJsonObject job = jobs.at(0).toObject();
    QCOMPARE(job.value(QStringLiteral("jobId")).toString(), id);
    QCOMPARE(job.value(QStringLiteral("size")).toInt(), 3);
    QCOMPARE(job.value(QStringLiteral("queries")).toInt(), 4);
    QCOMPARE(job.value(QStringLiteral("finalStatus")).toString(), QStringLiteral("打印成功"));

    const HttpResult single
        = m_sim.send("GET", QStringLiteral("/admin/jobs/") + id, QByteArray(), QByteArray());
    QCOMPARE(CloudSimProcess::objectOf(single), job);
    const HttpResult data
        = m_sim.send("GET", QStringLiteral("/admin/jobs/%1/data").arg(id), QByteArray(), QByteArray());
    QCOMPARE(data.body, QByteArray("abc"));

    const QString second = jobIdOf(m_sim.postJob(Online, "abc"));
    QVERIFY(!second.isEmpty());
    QVERIFY(second != id);
}

void TestCloudSim::jobBytesArriveUnchanged_data()
{
    QTest::addColumn<QByteArray>("job");
    QByteArray everyByte(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i)
        everyByte[i] = static_cast<char>(i);
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("\xff", 1);
    QTest::newRow("two bytes") << QByteArray("\x00\x01", 2);
    QTest::newRow("every byte value") << everyByte;
    // Larger than the decoder's slice, and not a multiple of it.
    QTest::newRow("5 MiB + 1") << randomBytes(5 * 1024 * 1024 + 1, 7);
}

void TestCloudSim::jobBytesArriveUnchanged()
{
    QFETCH(QByteArray, job);
    const QString id = jobIdOf(m_sim.postJob(Online, job));
    QVERIFY(!id.isEmpty());
    QFile file(jobFile(id));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll() == job);
    const QJsonObject record = m_sim.jobs().at(0).toObject();
    QCOMPARE(record.value(QStringLiteral("size")).toInt(), job.size());
    const HttpResult data
        = m_sim.send("GET", QStringLiteral("/admin/jobs/%1/data").arg(id), QByteArray(), QByteArray());
    QCOMPARE(data.error, QNetworkReply::NoError);
    QVERIFY(data.body == job);
}

void TestCloudSim::finalStatus_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("pending");
    QTest::addColumn<QJsonValue>("final");

    QTest::newRow("offline device") << QByteArray() << Offline << 2
                                    << QJsonValue(statusObject(Offline, QStringLiteral("离线")));
    QTest::newRow("unbound device") << QByteArray() << Unbound << 2
                                    << QJsonValue(statusObject(Unbound, QStringLiteral("设备未绑定")));
    QTest::newRow("unknown device") << QByteArray() << Unknown << 2
                                    << QJsonValue(statusObject(Unknown, QStringLiteral("设备不存在")));
    QTest::newRow("unknown taken as online") << QByteArray(R"({"defaultDevice":"online"})") << Unknown << 2
                                             << QJsonValue(statusObject(Unknown, QStringLiteral("打印成功")));
    QTest::newRow("service-wide text") << QByteArray(R"({"finalStatus":"缺纸"})") << Online << 2
                                       << QJsonValue(statusObject(Online, QStringLiteral("缺纸")));
    QTest::newRow("device's own text")
        << QByteArray(R"({"finalStatus":"缺纸","devices":{"0123456789ABCDEF":{"finalStatus":"卡纸"}}})")
        << Online << 2 << QJsonValue(statusObject(Online, QStringLiteral("卡纸")));
    QTest::newRow("offline beats the text") << QByteArray(R"({"finalStatus":"缺纸"})") << Offline << 2
                                            << QJsonValue(statusObject(Offline, QStringLiteral("离线")));
    QTest::newRow("plain text shape")
        << QByteArray(R"({"resultShape":"text"})") << Offline << 2 << QJsonValue(QStringLiteral("离线"));
    QTest::newRow("object without the serial")
        << QByteArray(R"({"resultShape":"empty-object"})") << Online << 2 << QJsonValue(QJsonObject());
    QTest::newRow("no pending answers") << QByteArray(R"({"pendingPolls":0})") << Online << 0
                                        << QJsonValue(statusObject(Online, QStringLiteral("打印成功")));
    QTest::newRow("five pending answers") << QByteArray(R"({"pendingPolls":5})") << Online << 5
                                          << QJsonValue(statusObject(Online, QStringLiteral("打印成功")));
}

void TestCloudSim::finalStatus()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, serial);
    QFETCH(int, pending);
    QFETCH(QJsonValue, final);

    if (!config.isEmpty())
        QCOMPARE(m_sim.configureStatus(config), 200);
    const QString id = jobIdOf(m_sim.postJob(serial, "job"));
    QVERIFY(!id.isEmpty());
    for (int i = 0; i < pending; ++i)
        QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(serial, Printing)));
    QCOMPARE(dataOf(m_sim.queryResult(id)), final);
}

void TestCloudSim::deviceStateCountsWhenTheJobEnds()
{
    const QString id = jobIdOf(m_sim.postJob(Online, "job"));
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, Printing)));
    QCOMPARE(m_sim.configureStatus(R"({"devices":{"0123456789ABCDEF":"offline"}})"), 200);
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, Printing)));
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, QStringLiteral("离线"))));
    // Once ended, the job keeps its status whatever the device does next.
    QCOMPARE(m_sim.configureStatus(R"({"devices":{"0123456789ABCDEF":"online"}})"), 200);
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, QStringLiteral("离线"))));
}

void TestCloudSim::unknownAndEncodedJobIds()
{
    for (const QString &id : { QStringLiteral("no-such-job"), QString() }) {
        const QJsonObject answer = CloudSimProcess::objectOf(m_sim.queryResult(id));
        QCOMPARE(answer.value(QStringLiteral("code")).toInt(), 4004);
        QCOMPARE(answer.value(QStringLiteral("data")), QJsonValue(QStringLiteral("任务不存在")));
    }

    // An id with characters a URL cannot hold comes back through the client's percent-encoding.
    QCOMPARE(m_sim.configureStatus(R"({"jobIdPrefix":"任务 <x>"})"), 200);
    const QString id = jobIdOf(m_sim.postJob(Online, "job"));
    QVERIFY2(id.startsWith(QStringLiteral("任务 <x>")), qPrintable(id));
    QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, Printing)));
    QVERIFY(QFile::exists(jobFile(id)));

    QCOMPARE(m_sim.configureStatus(R"({"jobIdPrefix":"../x"})"), 400);
    QCOMPARE(m_sim.configureStatus(R"({"jobIdPrefix":"a/b"})"), 400);
}

void TestCloudSim::deviceState_data()
{
    QTest::addColumn<QByteArray>("config");
    QTest::addColumn<QString>("serial");
    QTest::addColumn<int>("code");
    QTest::addColumn<QJsonValue>("data");

    QTest::newRow("online") << QByteArray() << Online << 0 << QJsonValue(QStringLiteral("1"));
    QTest::newRow("offline") << QByteArray() << Offline << 0 << QJsonValue(QStringLiteral("17"));
    QTest::newRow("unbound") << QByteArray() << Unbound << 4002 << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("unknown") << QByteArray() << Unknown << 1001 << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("unknown, default offline")
        << QByteArray(R"({"defaultDevice":"offline"})") << Unknown << 0 << QJsonValue(QStringLiteral("17"));
    QTest::newRow("registered at run time") << QByteArray(R"({"devices":{"FFFFFFFFFFFFFFFF":"online"}})")
                                            << Unknown << 0 << QJsonValue(QStringLiteral("1"));
    QTest::newRow("forgotten at run time") << QByteArray(R"({"devices":{"0123456789ABCDEF":"unknown"}})")
                                           << Online << 1001 << QJsonValue(QJsonValue::Undefined);
    QTest::newRow("code that states nothing") << QByteArray(R"({"devices":{"0123456789ABCDEF":{"code":2}}})")
                                              << Online << 2 << QJsonValue(QStringLiteral("1"));
}

void TestCloudSim::deviceState()
{
    QFETCH(QByteArray, config);
    QFETCH(QString, serial);
    QFETCH(int, code);
    QFETCH(QJsonValue, data);

    if (!config.isEmpty())
        QCOMPARE(m_sim.configureStatus(config), 200);
    const HttpResult result = m_sim.queryDevice(serial);
    QCOMPARE(result.error, QNetworkReply::NoError);
    QVERIFY(result.contentType.startsWith("application/json"));
    const QJsonObject answer = CloudSimProcess::objectOf(result);
    QCOMPARE(answer.value(QStringLiteral("code")).toInt(-1), code);
    QCOMPARE(answer.value(QStringLiteral("data")), data);
    QCOMPARE(m_sim.stats().value(QStringLiteral("deviceQueries")).toObject().value(serial).toInt(), 1);
}

void TestCloudSim::faults_data()
{
    QTest::addColumn<QString>("exchange");
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::addColumn<QByteArray>("body");

    const struct
    {
        const char *fault;
        QNetworkReply::NetworkError error;
        QByteArray body; // checked when not empty
    } faults[] = {
        { "404", QNetworkReply::ContentNotFoundError, QByteArray() },
        // The client tells an oversized job from every other failure by this error.
        { "413", QNetworkReply::UnknownContentError, QByteArray() },
        { "500", QNetworkReply::InternalServerError, QByteArray() },
        { "non-json", QNetworkReply::NoError, QByteArray("<html>") },
        { "empty-array", QNetworkReply::NoError, QByteArray("[]") },
        { "drop", QNetworkReply::RemoteHostClosedError, QByteArray() },
    };
    for (const char *exchange : { "print", "result", "state" }) {
        for (const auto &f : faults) {
            QTest::addRow("%s %s", exchange, f.fault)
                << QString::fromLatin1(exchange) << QString::fromLatin1(f.fault) << f.error << f.body;
        }
    }
}

void TestCloudSim::faults()
{
    QFETCH(QString, exchange);
    QFETCH(QString, fault);
    QFETCH(QNetworkReply::NetworkError, error);
    QFETCH(QByteArray, body);

    const QString id = jobIdOf(m_sim.postJob(Online, "job"));
    QVERIFY(!id.isEmpty());
    const QJsonObject config { { exchange, QJsonObject { { QStringLiteral("fault"), fault } } } };
    QCOMPARE(m_sim.configureStatus(QJsonDocument(config).toJson()), 200);

    const HttpResult result = exchange == QLatin1String("print") ? m_sim.postJob(Online, "job")
        : exchange == QLatin1String("result")                    ? m_sim.queryResult(id)
                                                                 : m_sim.queryDevice(Online);
    QCOMPARE(result.error, error);
    if (!body.isEmpty())
        QVERIFY2(result.body.startsWith(body), result.body.constData());
    if (fault == QLatin1String("drop"))
        QVERIFY(result.body.isEmpty());

    // A refused post leaves no job behind; a refused query does not advance the job.
    const QJsonArray jobs = m_sim.jobs();
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs.at(0).toObject().value(QStringLiteral("queries")).toInt(), 0);
    QVERIFY(exchangeStats(m_sim, qPrintable(exchange)).value(QStringLiteral("faulted")).toInt() >= 1);

    // The other exchanges are untouched.
    if (exchange != QLatin1String("state"))
        QCOMPARE(m_sim.queryDevice(Online).error, QNetworkReply::NoError);
    if (exchange != QLatin1String("result"))
        QCOMPARE(dataOf(m_sim.queryResult(id)), QJsonValue(statusObject(Online, Printing)));
}

void TestCloudSim::faultSkipAndCount()
{
    const QString id = jobIdOf(m_sim.postJob(Online, "job"));
    QCOMPARE(m_sim.configureStatus(R"({"result":{"fault":"500","skip":1,"count":1}})"), 200);
    QCOMPARE(m_sim.queryResult(id).error, QNetworkReply::NoError);
    QCOMPARE(m_sim.queryResult(id).error, QNetworkReply::InternalServerError);
    QCOMPARE(m_sim.queryResult(id).error, QNetworkReply::NoError);
    QCOMPARE(m_sim.queryResult(id).error, QNetworkReply::NoError);

    // Setting the behaviour again counts from its own first request.
    QCOMPARE(m_sim.configureStatus(R"({"result":{"fault":"404","skip":0,"count":2}})"), 200);
    QCOMPARE(m_sim.queryResult(id).error, QNetworkReply::ContentNotFoundError);
    QCOMPARE(m_sim.queryResult(id).error, QNetworkReply::ContentNotFoundError);
    QCOMPARE(m_sim.queryResult(id).error, QNetworkReply::NoError);
    QCOMPARE(exchangeStats(m_sim, "result").value(QStringLiteral("faulted")).toInt(), 3);
}

void TestCloudSim::slowAnswerIsHeldThenGiven()
{
    QCOMPARE(m_sim.configureStatus(R"({"state":{"delayMs":600000}})"), 200);
    QNetworkAccessManager manager;
    QNetworkRequest request(QUrl(m_sim.baseUrl() + QStringLiteral("/v1.1/getNumberStatu")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json;charset=UTF-8"));
    QNetworkReply *held = manager.post(request, QByteArray(R"({"tvNumber":"0123456789ABCDEF"})"));
    // The service has the request and sits on it; the admin interface still answers meanwhile.
    QTRY_COMPARE(exchangeStats(m_sim, "state").value(QStringLiteral("inFlight")).toInt(), 1);
    QVERIFY(!held->isFinished());
    held->abort();
    delete held;

    QCOMPARE(m_sim.configureStatus(R"({"state":{"delayMs":50}})"), 200);
    const HttpResult late = m_sim.queryDevice(Online);
    QCOMPARE(late.error, QNetworkReply::NoError);
    QCOMPARE(CloudSimProcess::objectOf(late).value(QStringLiteral("data")).toString(), QStringLiteral("1"));
}

void TestCloudSim::requestChecks_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");

    const QString print = QStringLiteral("/v1.1/transparentPrinting");
    const QString state = QStringLiteral("/v1.1/getNumberStatu");
    const QByteArray json = "application/json;charset=UTF-8";
    auto printBody = [](const char *members) -> QByteArray {
        return QByteArray(R"({"tvNumber":["0123456789ABCDEF"],"taskPersist":false,"async":true,)") + members
            + '}';
    };

    QTest::newRow("escaped Base64 is fine")
        << print << json << printBody(R"("dataType":"base64","printData":"\/\/\/\/")") << 200;
    QTest::newRow("plain text type") << print << QByteArray("text/plain")
                                     << printBody(R"("dataType":"base64","printData":"YWJj")") << 400;
    QTest::newRow("not JSON") << print << json << QByteArray("{\"tvNumber\":") << 400;
    QTest::newRow("array body") << print << json << QByteArray("[]") << 400;
    QTest::newRow("serial as a string")
        << print << json
        << QByteArray(R"({"tvNumber":"0123456789ABCDEF","taskPersist":false,"async":true,)"
                      R"("dataType":"base64","printData":""})")
        << 400;
    QTest::newRow("two serials")
        << print << json
        << QByteArray(R"({"tvNumber":["0123456789ABCDEF","1111111111111111"],"taskPersist":false,)"
                      R"("async":true,"dataType":"base64","printData":""})")
        << 400;
    QTest::newRow("no taskPersist")
        << print << json
        << QByteArray(R"({"tvNumber":["0123456789ABCDEF"],"async":true,"dataType":"base64","printData":""})")
        << 400;
    QTest::newRow("async as a string")
        << print << json
        << QByteArray(R"({"tvNumber":["0123456789ABCDEF"],"taskPersist":false,"async":"true",)"
                      R"("dataType":"base64","printData":""})")
        << 400;
    QTest::newRow("other data type") << print << json << printBody(R"("dataType":"hex","printData":"616263")")
                                     << 400;
    QTest::newRow("Base64 cut short")
        << print << json << printBody(R"("dataType":"base64","printData":"YWJ")") << 400;
    QTest::newRow("Base64 padding inside")
        << print << json << printBody(R"("dataType":"base64","printData":"YQ==YWJj")") << 400;
    QTest::newRow("Base64 with a line break")
        << print << json << printBody(R"("dataType":"base64","printData":"YWJj\nYWJj")") << 400;
    QTest::newRow("URL-safe Base64") << print << json
                                     << printBody(R"("dataType":"base64","printData":"__8-")") << 400;
    QTest::newRow("deep nesting") << print << json << QByteArray(5000, '[') + QByteArray(5000, ']') << 400;
    QTest::newRow("state serial as an array")
        << state << json << QByteArray(R"({"tvNumber":["0123456789ABCDEF"]})") << 400;
    QTest::newRow("state without serial") << state << json << QByteArray("{}") << 400;
    QTest::newRow("state serial with a tab")
        << state << json << QByteArray(R"({"tvNumber":"0123\t4567"})") << 400;
}

void TestCloudSim::requestChecks()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, contentType);
    QFETCH(QByteArray, body);
    QFETCH(int, status);

    const HttpResult result = m_sim.send("POST", path, body, contentType);
    QCOMPARE(result.status, status);
    const QJsonArray jobs = m_sim.jobs();
    if (status == 200) {
        QCOMPARE(jobs.size(), 1);
        QFile file(jobFile(jobs.at(0).toObject().value(QStringLiteral("jobId")).toString()));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("\xff\xff\xff"));
    } else {
        // A refusal says why, in the service's own envelope, and keeps nothing.
        QCOMPARE(result.error, QNetworkReply::ProtocolInvalidOperationError);
        QVERIFY(!CloudSimProcess::objectOf(result).value(QStringLiteral("msg")).toString().isEmpty());
        QCOMPARE(jobs.size(), 0);
        QCOMPARE(QDir(m_jobsDir.path()).entryList({ QStringLiteral("*.bin") }, QDir::Files).size(), 0);
    }
}

void TestCloudSim::tooLargeBodiesAre413()
{
    CloudSimProcess small;
    small.setKeepJobFiles(false);
    QVERIFY(small.start({ QStringLiteral("--max-body"), QStringLiteral("2K"),
        QStringLiteral("--default-device"), QStringLiteral("online") }));
    const HttpResult big = small.postJob(Online, randomBytes(4096, 1));
    QCOMPARE(big.status, 413);
    QCOMPARE(big.error, QNetworkReply::UnknownContentError);
    QCOMPARE(small.jobs().size(), 0);

    const HttpResult bigState = small.send(
        "POST", QStringLiteral("/v1.1/getNumberStatu"), R"({"tvNumber":")" + QByteArray(3000, 'A') + "\"}");
    QCOMPARE(bigState.status, 413);

    // The refusal leaves the service in order for the next job.
    QCOMPARE(small.postJob(Online, randomBytes(1000, 2)).error, QNetworkReply::NoError);
    QCOMPARE(small.jobs().size(), 1);
    QCOMPARE(small.stop(), 0);
}

void TestCloudSim::adminConfigIsAllOrNothing()
{
    const QByteArray before
        = m_sim.send("GET", QStringLiteral("/admin/config"), QByteArray(), QByteArray()).body;
    QCOMPARE(m_sim.configureStatus("{not json"), 400);
    QCOMPARE(m_sim.configureStatus(R"({"pendingPolls":9,"noSuchMember":1})"), 400);
    QCOMPARE(m_sim.configureStatus(R"({"pendingPolls":9,"print":{"fault":"teapot"}})"), 400);
    QCOMPARE(m_sim.configureStatus(R"({"pendingPolls":-1})"), 400);
    QCOMPARE(m_sim.configureStatus(R"({"print":{"delayMs":1.5}})"), 400);
    QCOMPARE(m_sim.configureStatus(R"({"devices":{"0123456789ABCDEF":"sleeping"}})"), 400);
    QCOMPARE(m_sim.send("GET", QStringLiteral("/admin/config"), QByteArray(), QByteArray()).body, before);

    QCOMPARE(m_sim.configureStatus(R"({"pendingPolls":9,"print":{"fault":"[]"}})"), 200);
    const QJsonObject after = CloudSimProcess::objectOf(
        m_sim.send("GET", QStringLiteral("/admin/config"), QByteArray(), QByteArray()));
    QCOMPARE(after.value(QStringLiteral("pendingPolls")).toInt(), 9);
    QCOMPARE(after.value(QStringLiteral("print")).toObject().value(QStringLiteral("fault")).toString(),
        QStringLiteral("empty-array"));
    QCOMPARE(m_sim.send("GET", QStringLiteral("/admin/nothing"), QByteArray(), QByteArray()).status, 404);
}

void TestCloudSim::resetForgetsJobsAndRestoresStart()
{
    const QByteArray start
        = m_sim.send("GET", QStringLiteral("/admin/config"), QByteArray(), QByteArray()).body;
    const QString id = jobIdOf(m_sim.postJob(Online, "job"));
    QVERIFY(QFile::exists(jobFile(id)));
    QCOMPARE(m_sim.configureStatus(R"({"finalStatus":"x","devices":{"FFFFFFFFFFFFFFFF":"online"}})"), 200);
    QCOMPARE(m_sim.queryDevice(Online).error, QNetworkReply::NoError);

    // Reset as a person types it: a POST without any body or length.
    QTcpSocket raw;
    raw.connectToHost(QHostAddress::LocalHost, m_sim.port());
    QVERIFY(raw.waitForConnected(5000));
    raw.write("POST /admin/reset HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    QByteArray answer;
    while (raw.waitForReadyRead(5000))
        answer += raw.readAll();
    answer += raw.readAll();
    QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
    QCOMPARE(m_sim.send("GET", QStringLiteral("/admin/config"), QByteArray(), QByteArray()).body, start);
    QCOMPARE(m_sim.jobs().size(), 0);
    QVERIFY(!QFile::exists(jobFile(id)));
    QVERIFY(indexLines().isEmpty());
    QCOMPARE(m_sim.stats().value(QStringLiteral("deviceQueries")).toObject().size(), 0);
    QCOMPARE(CloudSimProcess::objectOf(m_sim.queryResult(id)).value(QStringLiteral("code")).toInt(), 4004);
}

void TestCloudSim::commandLine()
{
    QProcess help;
    help.start(CloudSimProcess::program(), { QStringLiteral("--help") });
    QVERIFY(help.waitForFinished(10000));
    QCOMPARE(help.exitCode(), 0);
    const QString usage = QString::fromUtf8(help.readAllStandardOutput());
    for (const char *flag : { "--port", "--jobs-dir", "--max-body", "--pending-polls", "--final-status",
             "--result-shape", "--device", "--default-device", "--print-fault", "--result-fault",
             "--state-fault", "--print-delay", "--result-delay", "--state-delay", "--job-id-prefix",
             "--config", "--quiet", "--exit-with-parent" })
        QVERIFY2(usage.contains(QLatin1String(flag)), flag);

    for (const QStringList &bad : { QStringList { QStringLiteral("--frobnicate") },
             QStringList { QStringLiteral("--print-fault"), QStringLiteral("418") },
             QStringList { QStringLiteral("--port"), QStringLiteral("70000") },
             QStringList { QStringLiteral("--config"), QStringLiteral("{\"x\":1}") },
             QStringList { QStringLiteral("--pending-polls") } }) {
        QProcess refused;
        refused.start(CloudSimProcess::program(), bad);
        QVERIFY(refused.waitForFinished(10000));
        QCOMPARE(refused.exitCode(), 2);
        QVERIFY(!refused.readAllStandardError().isEmpty());
    }

    CloudSimProcess flagged;
    flagged.setKeepJobFiles(false);
    QVERIFY(flagged.start({ QStringLiteral("--result-fault"), QStringLiteral("500"),
        QStringLiteral("--state-fault"), QStringLiteral("404"), QStringLiteral("--print-delay"),
        QStringLiteral("20"), QStringLiteral("--default-device"), QStringLiteral("online"),
        QStringLiteral("--result-shape"), QStringLiteral("text"), QStringLiteral("--final-status"),
        QStringLiteral("缺纸"), QStringLiteral("--job-id-prefix"), QStringLiteral("T-"),
        QStringLiteral("--config"), R"({"pendingPolls":0})" }));
    const QString id = jobIdOf(flagged.postJob(Unknown, "job"));
    QVERIFY(id.startsWith(QStringLiteral("T-")));
    QCOMPARE(flagged.queryResult(id).error, QNetworkReply::InternalServerError);
    QCOMPARE(flagged.queryDevice(Unknown).error, QNetworkReply::ContentNotFoundError);
    QCOMPARE(flagged.configureStatus(R"({"result":{"fault":"none"}})"), 200);
    QCOMPARE(dataOf(flagged.queryResult(id)), QJsonValue(QStringLiteral("缺纸")));
    const QJsonObject config = CloudSimProcess::objectOf(
        flagged.send("GET", QStringLiteral("/admin/config"), QByteArray(), QByteArray()));
    QCOMPARE(config.value(QStringLiteral("print")).toObject().value(QStringLiteral("delayMs")).toInt(), 20);
    // A second instance on a port that is taken refuses to start rather than share it.
    QProcess second;
    second.start(CloudSimProcess::program(), { QStringLiteral("--port"), QString::number(flagged.port()) });
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitCode(), 1);
    QVERIFY(second.readAllStandardOutput().isEmpty());

    // A stop request ends the process normally, even with a keep-alive connection still open.
    QCOMPARE(flagged.stop(), 0);
}

void TestCloudSim::stopsWithTheProcessThatStartedIt()
{
    // The starter: a shell that runs the stand-in in the background, says its pid and waits. Both
    // write to the same pipe, so the two lines come in either order.
    QProcess starter;
    starter.start(QStringLiteral("/bin/sh"),
        { QStringLiteral("-c"),
            QStringLiteral("\"$0\" --port 0 --quiet --exit-with-parent & echo pid $!; wait"),
            CloudSimProcess::program() });
    qint64 pid = 0;
    bool listening = false;
    while (pid == 0 || !listening) {
        QVERIFY(starter.canReadLine() || starter.waitForReadyRead(10000));
        const QString line = QString::fromUtf8(starter.readLine()).trimmed();
        if (line.startsWith(QLatin1String("pid ")))
            pid = line.mid(4).toLongLong();
        listening = listening || line.startsWith(QLatin1String("listening 127.0.0.1:"));
    }
    const QString stat = QStringLiteral("/proc/%1/stat").arg(pid);
    const auto running = [&stat] {
        QFile file(stat);
        // A zombie nobody reaps has ended all the same.
        return file.open(QIODevice::ReadOnly) && !file.readAll().contains(") Z ");
    };
    QVERIFY(running());

    // Killed outright, the starter cannot stop anything itself.
    starter.kill();
    QVERIFY(starter.waitForFinished(10000));
    QTRY_VERIFY_WITH_TIMEOUT(!running(), 10000);
}

QTEST_GUILESS_MAIN(TestCloudSim)
#include "tst_cloudsim.moc"
