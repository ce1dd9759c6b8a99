#include "closedport.h"
#include "httppost.h"
#include "rawhttppeer.h"
#include "testtiming.h"

#include <QBuffer>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QByteArray kContentType = "application/json;charset=UTF-8";

QByteArray patterned(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char('a' + (i * 7 + i / 1013) % 26);
    return bytes;
}

} // namespace

// The print post's own HTTP client against a bare peer on loopback that can misbehave on purpose.
class TestHttpPost : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void requestCarriesOnlyItsOwnHeaders();
    void keptAndClosedUnansweredIsSentOnce();
    void refusedConnection();
    void statusesAsTheNetworkLayerNamesThem_data();
    void statusesAsTheNetworkLayerNamesThem();
    void answerBodies_data();
    void answerBodies();
    void answerBeyondItsLimitFails();
    void slowUplinkIsNoSilence();
    void stalledUplinkTimesOut();
    void abortEndsThePost();

private:
    // Posts `body` to the peer and waits for the end.
    bool postAndWait(HttpPost &post, const QByteArray &body, const QString &base = QString());

    RawHttpPeer *m_peer = nullptr;
    QByteArray m_body;
    QBuffer *m_device = nullptr;
};

void TestHttpPost::init()
{
    m_peer = new RawHttpPeer(this);
    QVERIFY(m_peer->listen());
}

void TestHttpPost::cleanup()
{
    delete m_device;
    m_device = nullptr;
    delete m_peer;
}

bool TestHttpPost::postAndWait(HttpPost &post, const QByteArray &body, const QString &base)
{
    m_body = body;
    delete m_device;
    m_device = new QBuffer(&m_body);
    m_device->open(QIODevice::ReadOnly);
    QSignalSpy finished(&post, &QNetworkReply::finished);
    const QString to = base.isEmpty() ? m_peer->base() : base;
    post.post(QUrl(to + QStringLiteral("/v1.1/transparentPrinting")), kContentType, m_device, m_body.size());
    return finished.count() == 1 || finished.wait(TestTiming::scaled(30000));
}

void TestHttpPost::requestCarriesOnlyItsOwnHeaders()
{
    m_peer->setResponse(200, R"({"code":0})");
    HttpPost post;
    QVERIFY(postAndWait(post, patterned(70000)));
    QCOMPARE(post.error(), QNetworkReply::NoError);
    QCOMPARE(post.httpStatus(), 200);
    QCOMPARE(post.answerBody(), QByteArray(R"({"code":0})"));
    QVERIFY(post.bodySent());
    QCOMPARE(m_peer->requests().size(), 1);
    const CapturedRequest request = m_peer->requests().first();
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.target, QByteArray("/v1.1/transparentPrinting"));
    QVERIFY(request.body == m_body);
    QStringList names;
    for (const QByteArray &name : request.headers.keys())
        names << QString::fromLatin1(name);
    names.sort();
    QCOMPARE(names,
        QStringList({ QStringLiteral("connection"), QStringLiteral("content-length"),
            QStringLiteral("content-type"), QStringLiteral("host") }));
    QCOMPARE(request.headers.value("content-type"), kContentType);
}

void TestHttpPost::keptAndClosedUnansweredIsSentOnce()
{
    // The service may have kept the job: a second send would print it twice.
    m_peer->setCloseWithoutAnswer(true);
    HttpPost post;
    QVERIFY(postAndWait(post, patterned(300000)));
    QCOMPARE(post.error(), QNetworkReply::RemoteHostClosedError);
    QVERIFY(post.bodySent());
    QTest::qWait(300);
    QCOMPARE(m_peer->connectionCount(), 1);
    QCOMPARE(m_peer->requests().size(), 1);
}

void TestHttpPost::refusedConnection()
{
    HttpPost post;
    QVERIFY(postAndWait(post, "job", QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort())));
    QCOMPARE(post.error(), QNetworkReply::ConnectionRefusedError);
    QVERIFY(!post.bodySent());
    QCOMPARE(post.httpStatus(), 0);
}

void TestHttpPost::statusesAsTheNetworkLayerNamesThem_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("error");
    QTest::newRow("200") << 200 << int(QNetworkReply::NoError);
    QTest::newRow("201") << 201 << int(QNetworkReply::NoError);
    // A redirect is neither followed nor an acceptance.
    QTest::newRow("302") << 302 << int(QNetworkReply::ProtocolFailure);
    QTest::newRow("307") << 307 << int(QNetworkReply::ProtocolFailure);
    QTest::newRow("404") << 404 << int(QNetworkReply::ContentNotFoundError);
    QTest::newRow("413") << 413 << int(QNetworkReply::UnknownContentError);
    QTest::newRow("500") << 500 << int(QNetworkReply::InternalServerError);
    QTest::newRow("502") << 502 << int(QNetworkReply::UnknownServerError);
    QTest::newRow("503") << 503 << int(QNetworkReply::ServiceUnavailableError);
}

void TestHttpPost::statusesAsTheNetworkLayerNamesThem()
{
    QFETCH(int, status);
    QFETCH(int, error);
    m_peer->setResponse(status, "{}");
    HttpPost post;
    QVERIFY(postAndWait(post, "job"));
    QCOMPARE(int(post.error()), error);
    QCOMPARE(post.httpStatus(), status);
    QCOMPARE(networkErrorForHttpStatus(status), QNetworkReply::NetworkError(error));
    QCOMPARE(m_peer->requests().size(), 1);
}

void TestHttpPost::answerBodies_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("chunked") << QByteArray("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                           "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n")
                             << QByteArray("hello world");
    QTest::newRow("until the close") << QByteArray("HTTP/1.1 200 OK\r\n\r\nno length given")
                                     << QByteArray("no length given");
    QTest::newRow("bare line feeds") << QByteArray("HTTP/1.1 200 OK\nContent-Length: 4\n\nbody")
                                     << QByteArray("body");
}

void TestHttpPost::answerBodies()
{
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, body);
    m_peer->setRawAnswer(answer);
    HttpPost post;
    QVERIFY(postAndWait(post, "job"));
    QCOMPARE(post.error(), QNetworkReply::NoError);
    QCOMPARE(post.answerBody(), body);
    QCOMPARE(post.readAll(), body);
}

void TestHttpPost::answerBeyondItsLimitFails()
{
    const qint64 size = HttpPost::maxAnswerBytes() + 1;
    m_peer->setRawAnswer("HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(size) + "\r\n\r\n"
        + QByteArray(int(size), 'x'));
    HttpPost post;
    QVERIFY(postAndWait(post, "job"));
    QCOMPARE(post.error(), QNetworkReply::ProtocolFailure);
    QVERIFY(post.answerBody().size() <= HttpPost::maxAnswerBytes());
}

void TestHttpPost::slowUplinkIsNoSilence()
{
    // 3 MiB taken 64 KiB at a time every 50 ms: far longer in all than the limit of silence.
    m_peer->setReadPace(64 * 1024, 50);
    m_peer->setResponse(200, R"({"code":0})");
    HttpPost post;
    post.setUploadIdleTimeout(1000);
    post.setAnswerIdleTimeout(1000);
    QVERIFY(postAndWait(post, patterned(3 * 1024 * 1024)));
    QCOMPARE(post.error(), QNetworkReply::NoError);
    QVERIFY2(m_peer->pacedReads() >= 40, qPrintable(QString::number(m_peer->pacedReads())));
    QVERIFY(m_peer->requests().value(0).body == m_body);
}

void TestHttpPost::stalledUplinkTimesOut()
{
    // The peer takes the connection and then nothing; more than the system's buffers can hold.
    m_peer->setReadPace(0, 0);
    HttpPost post;
    post.setUploadIdleTimeout(500);
    QVERIFY(postAndWait(post, patterned(16 * 1024 * 1024)));
    QCOMPARE(post.error(), QNetworkReply::TimeoutError);
    QVERIFY(!post.bodySent());
    QVERIFY(post.bodyBytesSent() < 16 * 1024 * 1024);
}

void TestHttpPost::abortEndsThePost()
{
    m_peer->setSilent(true);
    HttpPost post;
    m_body = "job";
    QBuffer device(&m_body);
    device.open(QIODevice::ReadOnly);
    QSignalSpy finished(&post, &QNetworkReply::finished);
    QSignalSpy requests(m_peer, &RawHttpPeer::requestReceived);
    post.post(QUrl(m_peer->base() + QStringLiteral("/v1.1/transparentPrinting")), kContentType, &device,
        m_body.size());
    QVERIFY(requests.wait(TestTiming::scaled(15000)));
    post.abort();
    QCOMPARE(finished.count(), 1);
    QCOMPARE(post.error(), QNetworkReply::OperationCanceledError);
    QTest::qWait(50);
    QCOMPARE(finished.count(), 1);
}

QTEST_GUILESS_MAIN(TestHttpPost)
#include "tst_httppost.moc"
