#include "printbody.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QtTest>

namespace {
QByteArray qtBody(const QString &cloudSn, const QByteArray &job)
{
    const QJsonObject object {
        { QStringLiteral("tvNumber"), QJsonArray { cloudSn } },
        { QStringLiteral("taskPersist"), false },
        { QStringLiteral("async"), true },
        { QStringLiteral("dataType"), QStringLiteral("base64") },
        { QStringLiteral("printData"), QString::fromLatin1(job.toBase64()) },
    };
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray randomBytes(int size, quint32 seed)
{
    QRandomGenerator generator(seed);
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(generator.bounded(256));
    return bytes;
}
} // namespace

class TestPrintBody : public QObject
{
    Q_OBJECT
private slots:
    void abcJob();
    void sameAsQtForEverySize_data();
    void sameAsQtForEverySize();
    void serialsNeedingEscapes_data();
    void serialsNeedingEscapes();
    void base64Lengths();
};

void TestPrintBody::abcJob()
{
    const QByteArray body = printRequestBody(QStringLiteral("0123456789ABCDEF"), QByteArray("abc"));
    QCOMPARE(body,
        QByteArray("{\n"
                   "    \"async\": true,\n"
                   "    \"dataType\": \"base64\",\n"
                   "    \"printData\": \"YWJj\",\n"
                   "    \"taskPersist\": false,\n"
                   "    \"tvNumber\": [\n"
                   "        \"0123456789ABCDEF\"\n"
                   "    ]\n"
                   "}\n"));
    QCOMPARE(body, qtBody(QStringLiteral("0123456789ABCDEF"), "abc"));
}

void TestPrintBody::sameAsQtForEverySize_data()
{
    QTest::addColumn<int>("size");
    // Every remainder of three around the small sizes, then some sizes of real jobs.
    for (int size = 0; size <= 64; ++size)
        QTest::addRow("%d bytes", size) << size;
    for (int size : { 255, 256, 257, 4095, 4096, 4097, 65535, 65536, 65537, 1000001, 3 << 20 })
        QTest::addRow("%d bytes", size) << size;
}

void TestPrintBody::sameAsQtForEverySize()
{
    QFETCH(int, size);
    const QByteArray job = randomBytes(size, quint32(size) + 7u);
    const QByteArray body = printRequestBody(QStringLiteral("00AB00CD00EF0012"), job);
    QCOMPARE(body.size(), qtBody(QStringLiteral("00AB00CD00EF0012"), job).size());
    QVERIFY(body == qtBody(QStringLiteral("00AB00CD00EF0012"), job));
    // And the service gets the job back, bytes unchanged.
    const QJsonObject parsed = QJsonDocument::fromJson(body).object();
    QCOMPARE(QByteArray::fromBase64(parsed.value(QStringLiteral("printData")).toString().toLatin1()), job);
}

void TestPrintBody::serialsNeedingEscapes_data()
{
    QTest::addColumn<QString>("serial");
    QTest::newRow("empty") << QString();
    QTest::newRow("quote and backslash") << QStringLiteral("A\"B\\C");
    QTest::newRow("printData lookalike") << QStringLiteral("\"printData\": \"");
    QTest::newRow("control characters") << QStringLiteral("A\nB\tC\x01");
    QTest::newRow("non-ASCII") << QStringLiteral("打印机Ä");
}

void TestPrintBody::serialsNeedingEscapes()
{
    QFETCH(QString, serial);
    const QByteArray job("\x00\xff\x10 job", 8);
    QCOMPARE(printRequestBody(serial, job), qtBody(serial, job));
}

void TestPrintBody::base64Lengths()
{
    QCOMPARE(base64Length(0), qint64(0));
    QCOMPARE(base64Length(1), qint64(4));
    QCOMPARE(base64Length(3), qint64(4));
    QCOMPARE(base64Length(4), qint64(8));
    // The largest job the receiver keeps still fits, with its JSON, in one byte array.
    QCOMPARE(base64Length(qint64(1) << 30), qint64(1431655768));
    QVERIFY(base64Length(qint64(1) << 30) + 200 < std::numeric_limits<int>::max());
}

QTEST_GUILESS_MAIN(TestPrintBody)
#include "tst_printbody.moc"
