#include "printbody.h"
#include "printbodywriter.h"

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
    void writerInSlicesMatchesQt();
    void multiMegabyteJobInSlices_data();
    void multiMegabyteJobInSlices();
    void writerStartsAfreshAfterFinishAndClear();
    void bodiesBeyondAByteArrayAreRefused();
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

namespace {
// Feeds `job` to the writer in slices of random length, many of them shorter than one Base64 group,
// so that every way a group can straddle two slices is taken.
void appendInSlices(PrintBodyWriter &writer, const QByteArray &job, QRandomGenerator &generator, int longest)
{
    int at = 0;
    while (at < job.size()) {
        const int length = qMin(job.size() - at,
            generator.bounded(4) == 0 ? generator.bounded(longest + 1) : generator.bounded(6));
        QVERIFY(writer.append(job.constData() + at, length));
        at += length;
    }
}
} // namespace

void TestPrintBody::writerInSlicesMatchesQt()
{
    const QString serial = QStringLiteral("00AB00CD00EF0012");
    QRandomGenerator generator(20240301);
    for (int size = 0; size <= 4200; ++size) {
        const QByteArray job = randomBytes(size, quint32(size) * 3u + 1u);
        PrintBodyWriter writer(serial);
        appendInSlices(writer, job, generator, 700);
        QCOMPARE(writer.jobBytes(), qint64(size));
        const QByteArray body = writer.finish();
        QVERIFY2(body == qtBody(serial, job), qPrintable(QStringLiteral("job of %1 bytes").arg(size)));
        QCOMPARE(qint64(body.size()), writer.bodyBytesFor(size));
    }
}

void TestPrintBody::multiMegabyteJobInSlices_data()
{
    QTest::addColumn<qint64>("reserved");
    // What the spooler announces need not be what arrives.
    QTest::newRow("nothing announced") << qint64(0);
    QTest::newRow("announced exactly") << qint64((5 << 20) + 2);
    QTest::newRow("announced too little") << qint64(1 << 20);
    QTest::newRow("announced too much") << qint64(9 << 20);
}

void TestPrintBody::multiMegabyteJobInSlices()
{
    QFETCH(qint64, reserved);
    const QString serial = QStringLiteral("F00DF00DF00DF00D");
    const QByteArray job = randomBytes((5 << 20) + 2, 99);
    PrintBodyWriter writer(serial);
    if (reserved > 0)
        QVERIFY(writer.reserveFor(reserved));
    // Slices as a socket hands them out: mostly large, some odd.
    QRandomGenerator generator(7);
    for (int at = 0; at < job.size();) {
        const int length = qMin(job.size() - at, generator.bounded(2) ? 65536 : generator.bounded(1, 70000));
        QVERIFY(writer.append(job.constData() + at, length));
        at += length;
    }
    QVERIFY(writer.finish() == qtBody(serial, job));
}

void TestPrintBody::writerStartsAfreshAfterFinishAndClear()
{
    const QString serial = QStringLiteral("0123456789ABCDEF");
    PrintBodyWriter writer(serial);
    QVERIFY(writer.append("abcd", 4));
    QCOMPARE(writer.finish(), qtBody(serial, "abcd"));
    // A finished writer is empty again; two bytes left over from a dropped job must not leak in.
    QCOMPARE(writer.jobBytes(), qint64(0));
    QVERIFY(writer.append("xy", 2));
    writer.clear();
    QVERIFY(writer.append("abc", 3));
    QCOMPARE(writer.finish(), qtBody(serial, "abc"));
    QCOMPARE(writer.finish(), qtBody(serial, QByteArray()));
}

void TestPrintBody::bodiesBeyondAByteArrayAreRefused()
{
    PrintBodyWriter writer(QStringLiteral("0123456789ABCDEF"));
    // The largest job the receiver keeps has room; half as much again has not, and asking for it
    // leaves the writer as it was.
    QVERIFY(writer.bodyBytesFor(qint64(1) << 30) <= PrintBodyWriter::maxBodyBytes());
    QVERIFY(!writer.reserveFor(qint64(3) << 29));
    QVERIFY(!writer.failed());
    QVERIFY(writer.append("abc", 3));
    QCOMPARE(writer.finish(), qtBody(QStringLiteral("0123456789ABCDEF"), "abc"));
}

QTEST_GUILESS_MAIN(TestPrintBody)
#include "tst_printbody.moc"
