#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextCodec>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include "clock.h"
#include "detailfile.h"
#include "logcapture.h"

namespace {

QString snA() { return QStringLiteral("0123456789ABCDEF"); }
QString snB() { return QStringLiteral("FEDCBA9876543210"); }

QDateTime localAt(int y, int m, int d, int hh, int mm, int ss)
{
    return QDateTime(QDate(y, m, d), QTime(hh, mm, ss), Qt::LocalTime);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

class TestDetailFile : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void pathIsSerialNumberThenDate();
    void recordsFollowEachOtherWithSeparator();
    void serialNumbersHaveSeparateFiles();
    void dayOfWritingChoosesTheFile();
    void missingFolderLosesRecordsAndStaysMissing();
    void concurrentAppendsKeepEveryRecordWhole();
    void pruningKeepsTodayYesterdayAndUndatedNames();

private:
    QString folder() const { return m_folder; }
    QString fileIn(const QString &name) const { return m_folder + QLatin1Char('/') + name; }
    static void touch(const QString &path);

    QString m_folder;
};

void TestDetailFile::initTestCase()
{
    // Pin the zone the system uses anyway: without TZ, glibc re-reads the zone on every local-time
    // conversion, which the thread sanitizer reports as a race between the writers below.
    if (qEnvironmentVariableIsEmpty("TZ"))
        qputenv("TZ", ":/etc/localtime");
    m_folder = QCoreApplication::applicationDirPath() + QStringLiteral("/details");
}

void TestDetailFile::init()
{
    QDir(m_folder).removeRecursively();
    QVERIFY(QDir().mkpath(m_folder));
    Clock::setFixedForTesting(localAt(2026, 5, 4, 10, 0, 0));
}

void TestDetailFile::cleanup()
{
    Clock::resetForTesting();
}

void TestDetailFile::touch(const QString &path)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
    file.write("x!+!");
}

void TestDetailFile::pathIsSerialNumberThenDate()
{
    QCOMPARE(detailFilePath(snA()), fileIn(QStringLiteral("0123456789ABCDEF2026-05-04.txt")));
    Clock::setFixedForTesting(localAt(2027, 1, 9, 0, 0, 0));
    QCOMPARE(detailFilePath(snB()), fileIn(QStringLiteral("FEDCBA98765432102027-01-09.txt")));
}

void TestDetailFile::recordsFollowEachOtherWithSeparator()
{
    QCOMPARE(detailFileSize(snA()), qint64(0));

    appendDetailRecord(snA(), QStringLiteral("A"));
    appendDetailRecord(snA(), QStringLiteral("B"));
    QCOMPARE(readDetailRecords(snA()), QStringLiteral("A!+!B!+!"));
    QCOMPARE(fileBytes(detailFilePath(snA())), QByteArray("A!+!B!+!"));
    QCOMPARE(detailFileSize(snA()), qint64(8));

    // Real records: one with a job description, one without, and a separator inside a document
    // name, which is broken up so that it cannot close the record.
    const QString printed = QStringLiteral("月报.pdf;09:58:01;打印成功;2048;10:00:05");
    const QString offline = QStringLiteral(";打印失败:设备离线;17;10:00:06");
    const QString odd = QStringLiteral("a;b!+!c.txt;09:59:59;打印失败:网络访问异常;0;10:00:07");
    appendDetailRecord(snA(), printed);
    appendDetailRecord(snA(), offline);
    appendDetailRecord(snA(), odd);

    const QString expected = QStringLiteral("A!+!B!+!") + printed + QStringLiteral("!+!") + offline
        + QStringLiteral("!+!a;b!+ !c.txt;09:59:59;打印失败:网络访问异常;0;10:00:07!+!");
    QCOMPARE(readDetailRecords(snA()), expected);
    const QByteArray raw = fileBytes(detailFilePath(snA()));
    QCOMPARE(raw, expected.toUtf8());
    QVERIFY(!raw.contains('\n') && !raw.contains('\r'));
    QCOMPARE(detailFileSize(snA()), qint64(raw.size()));
}

void TestDetailFile::serialNumbersHaveSeparateFiles()
{
    appendDetailRecord(snA(), QStringLiteral("first of A"));
    appendDetailRecord(snB(), QStringLiteral("first of B"));
    appendDetailRecord(snA(), QStringLiteral("second of A"));

    QCOMPARE(readDetailRecords(snA()), QStringLiteral("first of A!+!second of A!+!"));
    QCOMPARE(readDetailRecords(snB()), QStringLiteral("first of B!+!"));
    QCOMPARE(QDir(m_folder).entryList(QDir::Files).size(), 2);

    // A printer without jobs today has no file and so an empty history.
    const QString snC = QStringLiteral("00000000000000C3");
    LogCapture log;
    QCOMPARE(readDetailRecords(snC), QString());
    QCOMPARE(log.lines().size(), 2);
    QCOMPARE(detailFileSize(snC), qint64(0));
    QVERIFY(!QFileInfo::exists(detailFilePath(snC)));
}

void TestDetailFile::dayOfWritingChoosesTheFile()
{
    Clock::setFixedForTesting(localAt(2026, 3, 1, 23, 59, 58));
    appendDetailRecord(snA(), QStringLiteral("late"));

    // A job submitted before midnight but finished after it belongs to the new day.
    Clock::setFixedForTesting(localAt(2026, 3, 2, 0, 0, 5));
    appendDetailRecord(snA(), QStringLiteral("just after midnight"));
    QCOMPARE(readDetailRecords(snA()), QStringLiteral("just after midnight!+!"));

    QCOMPARE(fileBytes(fileIn(snA() + QStringLiteral("2026-03-01.txt"))), QByteArray("late!+!"));
    QCOMPARE(fileBytes(fileIn(snA() + QStringLiteral("2026-03-02.txt"))),
             QByteArray("just after midnight!+!"));

    Clock::setFixedForTesting(localAt(2026, 3, 1, 12, 0, 0));
    QCOMPARE(readDetailRecords(snA()), QStringLiteral("late!+!"));
    QCOMPARE(detailFileSize(snA()), qint64(7));
}

void TestDetailFile::missingFolderLosesRecordsAndStaysMissing()
{
    QVERIFY(QDir(m_folder).removeRecursively());

    // What opening such a file reports, to compare the logged lines with.
    QFile probe(detailFilePath(snA()));
    QVERIFY(!probe.open(QIODevice::WriteOnly | QIODevice::Append));
    const QString code = QString::number(int(probe.error()));
    const QString text = probe.errorString();
    QVERIFY(!text.isEmpty());

    {
        LogCapture log;
        appendDetailRecord(snA(), QStringLiteral("lost"));
        const QStringList lines = log.lines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], code);
        QVERIFY2(lines[1].contains(text), qPrintable(lines[1]));
    }
    {
        LogCapture log;
        QCOMPARE(readDetailRecords(snA()), QString());
        const QStringList lines = log.lines();
        QCOMPARE(lines.size(), 2);
        QCOMPARE(lines[0], code);
        QVERIFY2(lines[1].contains(text), qPrintable(lines[1]));
    }
    QCOMPARE(detailFileSize(snA()), qint64(0));
    DetailFileManage();
    QVERIFY(!QFileInfo::exists(m_folder));

    // Once the folder is back, records are kept again; the lost one stays lost.
    QVERIFY(QDir().mkpath(m_folder));
    appendDetailRecord(snA(), QStringLiteral("kept"));
    QCOMPARE(readDetailRecords(snA()), QStringLiteral("kept!+!"));
}

void TestDetailFile::concurrentAppendsKeepEveryRecordWhole()
{
    constexpr int writers = 4;
    constexpr int perWriter = 100;
    const QString pattern = QStringLiteral("doc%1-%2.pdf;10:00:00;打印成功;4096;10:00:01");
    std::atomic<bool> writing{true};
    std::atomic<int> tornReads{0};

    // The reader only ever sees a file that exists.
    appendDetailRecord(snA(), QStringLiteral("doc-seed.pdf;09:00:00;打印成功;4096;10:00:01"));
    std::thread reader([&] {
        while (writing.load()) {
            const QString content = readDetailRecords(snA());
            if (!content.isEmpty() && !content.endsWith(QLatin1String("!+!")))
                ++tornReads;
        }
    });
    std::vector<std::thread> threads;
    for (int w = 0; w < writers; ++w) {
        threads.emplace_back([w, pattern] {
            for (int i = 0; i < perWriter; ++i)
                appendDetailRecord(snA(), pattern.arg(w).arg(i));
        });
    }
    for (auto &t : threads)
        t.join();
    writing = false;
    reader.join();

    QCOMPARE(tornReads.load(), 0);
    QStringList records = readDetailRecords(snA()).split(QStringLiteral("!+!"));
    QCOMPARE(records.takeLast(), QString());
    QCOMPARE(records.size(), writers * perWriter + 1);
    QSet<QString> distinct;
    for (const QString &r : qAsConst(records)) {
        const bool whole = r.startsWith(QLatin1String("doc")) && r.endsWith(QLatin1String(";4096;10:00:01"));
        QVERIFY2(whole, qPrintable(r));
        distinct.insert(r);
    }
    QCOMPARE(distinct.size(), writers * perWriter + 1);
}

void TestDetailFile::pruningKeepsTodayYesterdayAndUndatedNames()
{
    const QStringList names = {
        snA() + QStringLiteral("2026-12-05.txt"), // the day before yesterday
        snA() + QStringLiteral("2026-12-06.txt"), // yesterday
        snA() + QStringLiteral("2026-12-07.txt"), // today
        snA() + QStringLiteral("2025-12-31.txt"), // last year
        snB() + QStringLiteral("2026-11-30.txt"), // another printer, last month
        QStringLiteral("readme.txt"),
        snA() + QStringLiteral(".txt"),
        snA() + QStringLiteral("notadate.txt"),
        snA() + QStringLiteral("2026-12-01.TXT"), // the extension is removed only in lower case
        snA() + QStringLiteral("2026-12-01.log"),
        QStringLiteral("ABC2026-12-01.txt"), // too short a serial leaves no date
    };
    for (const QString &name : names)
        touch(fileIn(name));

    Clock::setFixedForTesting(localAt(2026, 12, 7, 0, 0, 1));
    DetailFileManage();

    QStringList left = QDir(m_folder).entryList(QDir::Files, QDir::Name);
    QStringList expected = names;
    expected.removeOne(snA() + QStringLiteral("2026-12-05.txt"));
    expected.removeOne(snA() + QStringLiteral("2025-12-31.txt"));
    expected.removeOne(snB() + QStringLiteral("2026-11-30.txt"));
    expected.sort();
    left.sort();
    QCOMPARE(left, expected);

    // A day later yesterday's file has aged and goes too.
    Clock::setFixedForTesting(localAt(2026, 12, 8, 23, 59, 59));
    DetailFileManage();
    QVERIFY(!QFileInfo::exists(fileIn(snA() + QStringLiteral("2026-12-06.txt"))));
    QVERIFY(QFileInfo::exists(fileIn(snA() + QStringLiteral("2026-12-07.txt"))));
    QCOMPARE(QDir(m_folder).entryList(QDir::Files).size(), expected.size() - 1);
}

QTEST_GUILESS_MAIN(TestDetailFile)
#include "tst_detailfile.moc"
