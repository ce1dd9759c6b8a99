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

QTEST_GUILESS_MAIN(TstCloudProtocol)
#include "tst_cloudprotocol.moc"
