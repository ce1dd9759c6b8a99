#include "cloud.h"
#include "cloudsimprocess.h"
#include "logcapture.h"
#include "rawhttppeer.h"
#include "statethread.h"
#include "testtiming.h"

#include <QPointer>
#include <QSignalSpy>
#include <QUrlQuery>
#include <QtTest>

namespace {
const QString kSerial = QStringLiteral("00AB00CD00EF0012");

DriverInfo printer()
{
    DriverInfo info;
    info.printer_name = QStringLiteral("Lab");
    info.cloud_sn = kSerial;
    return info;
}

QNetworkReply::NetworkError errorOf(const QSignalSpy &spy, int i)
{
    return spy.at(i).at(0).value<QNetworkReply::NetworkError>();
}

QJsonDocument documentOf(const QSignalSpy &spy, int i)
{
    return spy.at(i).at(1).value<QJsonDocument>();
}

QString statusOf(const QSignalSpy &spy, int i)
{
    return documentOf(spy, i).object().value(QStringLiteral("data")).toObject().value(kSerial).toString();
}
} // namespace

class TestStateThread : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void pollsUntilTheStatusIsFinal();
    void oneQueryOutstandingAtATime();
    void failedQueryIsReportedOnce_data();
    void failedQueryIsReportedOnce();
    void answersThatAreNoObject_data();
    void answersThatAreNoObject();
    void jobIdIsPercentEncoded();

private:
    // Posts a job for kSerial to the stand-in and returns the id it handed out.
    QString postJob();

    CloudSimProcess m_service;
};

void TestStateThread::initTestCase()
{
    qRegisterMetaType<QNetworkReply::NetworkError>();
    QVERIFY(m_service.start({ QStringLiteral("--device"), kSerial + QStringLiteral("=online") }));
}

void TestStateThread::init()
{
    QVERIFY(m_service.configure(R"({"pendingPolls": 2, "result": {"fault": "none", "delayMs": 0}})"));
}

QString TestStateThread::postJob()
{
    Cloud *cloud = new Cloud(m_service.baseUrl() + QStringLiteral("/v1.1/transparentPrinting"), printer());
    QSignalSpy posted(cloud, &Cloud::cloudResule);
    if (!cloud->request("job", 3, QStringLiteral("a;01:02:03")) || !posted.wait(TestTiming::scaled(15000)))
        return QString();
    return documentOf(posted, 0)
        .object()
        .value(QStringLiteral("data"))
        .toObject()
        .value(QStringLiteral("tolvixId"))
        .toString();
}

void TestStateThread::pollsUntilTheStatusIsFinal()
{
    const QString jobId = postJob();
    QVERIFY(!jobId.isEmpty());
    LogCapture log;
    {
        StateThread state(m_service.baseUrl(), jobId);
        QSignalSpy answers(&state, &StateThread::stateResule);
        for (int round = 0; round < 3; ++round) {
            state.query();
            QVERIFY(answers.wait(TestTiming::scaled(15000)));
            QCOMPARE(errorOf(answers, round), QNetworkReply::NoError);
        }
        QVERIFY(statusOf(answers, 0).contains(QStringLiteral("正在打印")));
        QVERIFY(statusOf(answers, 1).contains(QStringLiteral("正在打印")));
        QCOMPARE(statusOf(answers, 2), QStringLiteral("打印成功"));
        QCOMPARE(answers.count(), 3);
    }
    QCOMPARE(log.count(QStringLiteral("25_StateThread 查询打印状态")), 3);
    QCOMPARE(log.count(QStringLiteral("30_StateThread reply=")), 3);
    QCOMPARE(log.count(QStringLiteral("36_StateThread status code is 200")), 3);
    QCOMPARE(log.count(QStringLiteral("16_StateThread destruct")), 1);
}

void TestStateThread::oneQueryOutstandingAtATime()
{
    const QString jobId = postJob();
    QVERIFY(!jobId.isEmpty());
    QVERIFY(m_service.configure(R"({"result": {"delayMs": 600}})"));
    const int before = m_service.stats()
                           .value(QStringLiteral("result"))
                           .toObject()
                           .value(QStringLiteral("requests"))
                           .toInt();

    StateThread state(m_service.baseUrl(), jobId);
    QSignalSpy answers(&state, &StateThread::stateResule);
    // Ticks that fall due while an answer is outstanding send nothing.
    state.query();
    state.query();
    state.query();
    QVERIFY(answers.wait(TestTiming::scaled(15000)));
    QVERIFY(!answers.wait(800));
    QCOMPARE(answers.count(), 1);
    // The next round, after the answer, goes out as usual.
    state.query();
    QVERIFY(answers.wait(TestTiming::scaled(15000)));
    const QJsonObject result = m_service.stats().value(QStringLiteral("result")).toObject();
    QCOMPARE(result.value(QStringLiteral("requests")).toInt() - before, 2);
    QCOMPARE(result.value(QStringLiteral("inFlightMax")).toInt(), 1);
}

void TestStateThread::failedQueryIsReportedOnce_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("404") << QStringLiteral("404");
    QTest::newRow("500") << QStringLiteral("500");
    QTest::newRow("dropped connection") << QStringLiteral("drop");
}

void TestStateThread::failedQueryIsReportedOnce()
{
    QFETCH(QString, fault);
    const QString jobId = postJob();
    QVERIFY(!jobId.isEmpty());
    QVERIFY(m_service.configure(QStringLiteral(R"({"result": {"fault": "%1"}})").arg(fault).toUtf8()));
    const int before = m_service.stats()
                           .value(QStringLiteral("result"))
                           .toObject()
                           .value(QStringLiteral("requests"))
                           .toInt();
    LogCapture log;

    StateThread state(m_service.baseUrl(), jobId);
    QSignalSpy answers(&state, &StateThread::stateResule);
    state.query();
    QVERIFY(answers.wait(TestTiming::scaled(15000)));
    QVERIFY(errorOf(answers, 0) != QNetworkReply::NoError);
    QVERIFY(documentOf(answers, 0).isNull());
    QCOMPARE(log.count(QStringLiteral("43_StateThread receive err: ")), 1);
    // Not retried: the owner decides what happens next. (The network layer may itself resend a
    // request once when the connection drops before any answer; that is before the result.)
    const int sent = m_service.stats()
                         .value(QStringLiteral("result"))
                         .toObject()
                         .value(QStringLiteral("requests"))
                         .toInt();
    QVERIFY(sent - before >= 1);
    QVERIFY(!answers.wait(300));
    QCOMPARE(m_service.stats()
                 .value(QStringLiteral("result"))
                 .toObject()
                 .value(QStringLiteral("requests"))
                 .toInt(),
        sent);
}

void TestStateThread::answersThatAreNoObject_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<bool>("isArray");
    QTest::newRow("not JSON") << QStringLiteral("non-json") << false;
    QTest::newRow("empty array") << QStringLiteral("empty-array") << true;
}

void TestStateThread::answersThatAreNoObject()
{
    QFETCH(QString, fault);
    QFETCH(bool, isArray);
    const QString jobId = postJob();
    QVERIFY(!jobId.isEmpty());
    QVERIFY(m_service.configure(QStringLiteral(R"({"result": {"fault": "%1"}})").arg(fault).toUtf8()));

    StateThread state(m_service.baseUrl(), jobId);
    QSignalSpy answers(&state, &StateThread::stateResule);
    state.query();
    QVERIFY(answers.wait(TestTiming::scaled(15000)));
    // No network error; the card recognises the document as unusable.
    QCOMPARE(errorOf(answers, 0), QNetworkReply::NoError);
    QCOMPARE(documentOf(answers, 0).isArray(), isArray);
    QVERIFY(!documentOf(answers, 0).isObject());
    QVERIFY(documentOf(answers, 0).object().isEmpty());
}

void TestStateThread::jobIdIsPercentEncoded()
{
    RawHttpPeer peer;
    QVERIFY(peer.listen());
    peer.setResponse(200, R"({"code":0,"data":{}})");
    // Characters that end a query value, turn into a space or start another one go encoded too.
    const QString jobId = QStringLiteral("J 7\"<>%|^`{}打印#+&=;?");

    StateThread state(peer.base(), jobId);
    QSignalSpy answers(&state, &StateThread::stateResule);
    state.query();
    QVERIFY(answers.wait(TestTiming::scaled(15000)));
    QCOMPARE(peer.requests().size(), 1);
    const CapturedRequest request = peer.requests().first();
    QCOMPARE(request.method, QByteArray("GET"));
    const QByteArray prefix("/v1.1/printResult?tolvixId=");
    QVERIFY(request.target.startsWith(prefix));
    // Nothing a request line cannot carry went out raw, and the service reads back the id itself.
    const QByteArray value = request.target.mid(prefix.size());
    for (const char c : value)
        QVERIFY2(uchar(c) > 0x20 && uchar(c) < 0x7f && !QByteArray("\"<>\\^`{|} #+&=;?").contains(c),
            value.constData());
    QCOMPARE(QString::fromUtf8(QByteArray::fromPercentEncoding(value)), jobId);
    QVERIFY(request.headers.value("content-type").isEmpty());
}

QTEST_GUILESS_MAIN(TestStateThread)
#include "tst_statethread.moc"
