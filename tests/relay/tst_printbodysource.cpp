#include "printbody.h"
#include "printbodysource.h"

#include <QBuffer>
#include <QFile>
#include <QTemporaryFile>
#include <QtTest>

namespace {
const QString kSerial = QStringLiteral("00AB00CD00EF0012");

QByteArray patternedJob(int size)
{
    QByteArray job(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        job[i] = char((i * 131 + i / 7) & 0xff);
    return job;
}

// Reads the whole source in pieces of the given sizes, round and round.
QByteArray readInPieces(QIODevice &source, const QList<int> &pieces)
{
    QByteArray body;
    for (int i = 0;; ++i) {
        QByteArray piece(pieces.at(i % pieces.size()), Qt::Uninitialized);
        const qint64 n = source.read(piece.data(), piece.size());
        if (n <= 0)
            break;
        body.append(piece.constData(), int(n));
    }
    return body;
}
} // namespace

// The print body made on the fly from a job device against the one built in memory.
class TestPrintBodySource : public QObject
{
    Q_OBJECT
private slots:
    void sameBytesAsTheBodyInMemory_data();
    void sameBytesAsTheBodyInMemory();
    void jobFromAFileAfterItsStart();
    void rewoundAndReadAgain();
    void jobThatEndsEarlyIsAnError();
};

void TestPrintBodySource::sameBytesAsTheBodyInMemory_data()
{
    QTest::addColumn<int>("size");
    for (int size : { 0, 1, 2, 3, 4, 65535, 65536, 65537, 3 * 1024 * 1024 + 1 })
        QTest::newRow(qPrintable(QString::number(size))) << size;
}

void TestPrintBodySource::sameBytesAsTheBodyInMemory()
{
    QFETCH(int, size);
    QByteArray job = patternedJob(size);
    QBuffer device(&job);
    QVERIFY(device.open(QIODevice::ReadOnly));
    PrintBodySource source(kSerial, &device, size);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray expected = printRequestBody(kSerial, job);
    QCOMPARE(source.size(), qint64(expected.size()));
    // Odd pieces cross the chunk borders of the encoding at every phase of its three-byte groups.
    const QByteArray body = readInPieces(source, { 1, 7, 4096, 49153, 2 });
    QCOMPARE(body.size(), expected.size());
    QVERIFY(body == expected);
    QVERIFY(source.atEnd());
}

void TestPrintBodySource::jobFromAFileAfterItsStart()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    const QByteArray job = patternedJob(200001);
    file.write("header bytes that are not the job");
    file.write(job);
    file.write("and a tail");
    QVERIFY(file.seek(33));
    PrintBodySource source(kSerial, &file, job.size());
    QVERIFY(source.open(QIODevice::ReadOnly));
    QVERIFY(source.readAll() == printRequestBody(kSerial, job));
}

void TestPrintBodySource::rewoundAndReadAgain()
{
    QByteArray job = patternedJob(100000);
    QBuffer device(&job);
    QVERIFY(device.open(QIODevice::ReadOnly));
    PrintBodySource source(kSerial, &device, job.size());
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray first = readInPieces(source, { 12345 });
    QVERIFY(source.seek(0));
    QVERIFY(source.readAll() == first);
    QVERIFY(source.seek(first.size() / 2));
    QVERIFY(source.readAll() == first.mid(first.size() / 2));
}

void TestPrintBodySource::jobThatEndsEarlyIsAnError()
{
    QByteArray job = patternedJob(5000);
    QBuffer device(&job);
    QVERIFY(device.open(QIODevice::ReadOnly));
    // The body's length promises 6000 bytes of job; only 5000 come.
    PrintBodySource source(kSerial, &device, 6000);
    QVERIFY(source.open(QIODevice::ReadOnly));
    QByteArray piece(1 << 20, Qt::Uninitialized);
    qint64 total = 0;
    qint64 n = 0;
    while ((n = source.read(piece.data(), piece.size())) > 0)
        total += n;
    QCOMPARE(n, qint64(-1));
    QVERIFY(total < source.size());
    QVERIFY(!source.errorString().isEmpty());
}

QTEST_GUILESS_MAIN(TestPrintBodySource)
#include "tst_printbodysource.moc"
