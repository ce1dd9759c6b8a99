#include "cloudprotocol.h"

#include <QUrl>
#include <QUrlQuery>
#include <QtTest>

// The facts of the protocol that the client and the cards share: what a device-state answer means,
// and that a job id survives its trip into the result query whatever it holds.
class TstCloudProtocol : public QObject
{
    Q_OBJECT

private slots:
    void deviceStateOfAnswers_data();
    void deviceStateOfAnswers();
    void resultQueryCarriesTheWholeId_data();
    void resultQueryCarriesTheWholeId();
    void onlyPostsTheServiceCannotHaveTakenAreRetried_data();
    void onlyPostsTheServiceCannotHaveTakenAreRetried();
};

void TstCloudProtocol::deviceStateOfAnswers_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<int>("state");

    const int unknown = int(DeviceState::Unknown);
    const int offline = int(DeviceState::Offline);
    const int online = int(DeviceState::Online);
    QTest::newRow("online") << QByteArray(R"({"code":0,"data":"1"})") << online;
    QTest::newRow("away, data 17") << QByteArray(R"({"code":0,"data":"17"})") << offline;
    QTest::newRow("unknown device, 1001") << QByteArray(R"({"code":1001})") << offline;
    QTest::newRow("unbound device, 4002") << QByteArray(R"({"code":4002,"data":"1"})") << offline;
    QTest::newRow("other code") << QByteArray(R"({"code":500,"data":"17"})") << unknown;
    QTest::newRow("a proxy's page") << QByteArray("<html>502 Bad Gateway</html>") << unknown;
    QTest::newRow("an array") << QByteArray(R"([{"code":1001}])") << unknown;
    QTest::newRow("nothing") << QByteArray() << unknown;
}

void TstCloudProtocol::deviceStateOfAnswers()
{
    QFETCH(QByteArray, answer);
    QFETCH(int, state);
    QCOMPARE(int(deviceState(QJsonDocument::fromJson(answer))), state);
}

void TstCloudProtocol::resultQueryCarriesTheWholeId_data()
{
    QTest::addColumn<QString>("id");
    QTest::newRow("digits") << QStringLiteral("1234567890123");
    QTest::newRow("query characters") << QStringLiteral("a&b=c#d+e%20f");
    QTest::newRow("spaces and CJK") << QStringLiteral("任务 7");
}

void TstCloudProtocol::resultQueryCarriesTheWholeId()
{
    QFETCH(QString, id);
    const QUrl url(printResultUrl(QStringLiteral("http://127.0.0.1:8765"), id));
    QVERIFY(url.isValid());
    QCOMPARE(url.path(), QStringLiteral("/v1.1/printResult"));
    QCOMPARE(url.fragment(), QString());
    const QUrlQuery query(url);
    QCOMPARE(query.queryItems(QUrl::FullyDecoded).size(), 1);
    QCOMPARE(query.queryItemValue(QStringLiteral("tolvixId"), QUrl::FullyDecoded), id);
}

void TstCloudProtocol::onlyPostsTheServiceCannotHaveTakenAreRetried_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("bodySent");
    QTest::addColumn<bool>("retried");
    const auto row
        = [](const char *name, QNetworkReply::NetworkError error, int status, bool bodySent, bool retried) {
              QTest::newRow(name) << int(error) << status << bodySent << retried;
          };
    row("refused", QNetworkReply::ConnectionRefusedError, 0, false, true);
    row("no such host", QNetworkReply::HostNotFoundError, 0, false, true);
    row("gateway 502", QNetworkReply::UnknownServerError, 502, true, true);
    row("gateway 504", QNetworkReply::UnknownServerError, 504, true, true);
    row("closed under the body", QNetworkReply::RemoteHostClosedError, 0, false, true);
    row("stalled under the body", QNetworkReply::TimeoutError, 0, false, true);
    // Everything went out: the service may have printed it.
    row("closed after the body", QNetworkReply::RemoteHostClosedError, 0, true, false);
    row("no answer after the body", QNetworkReply::TimeoutError, 0, true, false);
    // The service answered: it decided.
    row("500", QNetworkReply::InternalServerError, 500, true, false);
    row("early 413", QNetworkReply::UnknownContentError, 413, false, false);
    row("garbled answer", QNetworkReply::ProtocolFailure, 0, false, false);
    // The program's own doing.
    row("stopped", QNetworkReply::OperationCanceledError, 0, false, false);
    row("spool file unreadable", QNetworkReply::ContentReSendError, 0, false, false);
    row("journal not on the disk", QNetworkReply::ProtocolUnknownError, 0, false, false);
}

void TstCloudProtocol::onlyPostsTheServiceCannotHaveTakenAreRetried()
{
    QFETCH(int, error);
    QFETCH(int, status);
    QFETCH(bool, bodySent);
    QFETCH(bool, retried);
    QCOMPARE(isRetryablePostFailure(QNetworkReply::NetworkError(error), status, bodySent), retried);
}

QTEST_GUILESS_MAIN(TstCloudProtocol)
#include "tst_cloudprotocol.moc"
