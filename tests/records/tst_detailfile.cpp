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
#include "detailfilereader.h"
#include "logcapture.h"

namespace {

QString snA()
{
    return QStringLiteral("0123456789ABCDEF");
}
QString snB()
{
    return QStringLiteral("FEDCBA9876543210");
}

QDateTime localAt(int y, int m, int d, int hh, int mm, int ss)
{
    return QDateTime(QDate(y, m, d), QTime(hh, mm, ss), Qt::LocalTime);
}

void appendBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Append), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

DetailRecord record(
    const char *document, const char *submitted, const char *result, const char *size, const char *handled)
{
    return DetailRecord { QString::fromUtf8(document), QString::fromUtf8(submitted),
        QString::fromUtf8(result), QString::fromUtf8(size), QString::fromUtf8(handled) };
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

Q_DECLARE_METATYPE(DetailRecord)

namespace QTest {
template<> char *toString(const DetailRecord &record)
{
    const QString text
        = QStringLiteral("{%1 | %2 | %3 | %4 | %5}")
              .arg(record.document, record.submitted, record.result, record.size, record.handled);
    return qstrdup(text.toUtf8().constData());
}
} // namespace QTest

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
    void recordsAreReadFromTheRight_data();
    void recordsAreReadFromTheRight();
    void separatorsInNamesCannotForgeRecords();
    void chineseSurvivesAWesternCodePage();
    void filesOfTheOldEncodingStillRead();
    void anyDaysFileCanBeRead();
    void readerTakesOnlyWholeAppendedRecords();
    void readerStartsOverOnShrinkOrAnotherDay();

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
    QTextCodec::setCodecForLocale(nullptr);
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
    QCOMPARE(
        fileBytes(fileIn(snA() + QStringLiteral("2026-03-02.txt"))), QByteArray("just after midnight!+!"));

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
    std::atomic<bool> writing { true };
    std::atomic<int> tornReads { 0 };

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
        QStringLiteral("readme.txt"), snA() + QStringLiteral(".txt"), snA() + QStringLiteral("notadate.txt"),
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

void TestDetailFile::recordsAreReadFromTheRight_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<DetailRecord>("expected");

    QTest::newRow("plain") << QStringLiteral("月报.pdf;09:58:01;打印成功;2048;10:00:05")
                           << record("月报.pdf", "09:58:01", "打印成功", "2048", "10:00:05");
    QTest::newRow("semicolon in the document")
        << QStringLiteral("预算;草稿.txt;10:00:01;打印成功;1234;10:00:09")
        << record("预算;草稿.txt", "10:00:01", "打印成功", "1234", "10:00:09");
    QTest::newRow("several semicolons and a time inside")
        << QStringLiteral("a;12:00:00;b;c.txt;10:00:01;打印失败:设备离线;7;10:00:09")
        << record("a;12:00:00;b;c.txt", "10:00:01", "打印失败:设备离线", "7", "10:00:09");
    QTest::newRow("no description") << QStringLiteral(";打印失败:设备离线;17;10:00:06")
                                    << record("", "", "打印失败:设备离线", "17", "10:00:06");
    QTest::newRow("description without a time") << QStringLiteral("a;b.txt;打印成功;5;10:00:00")
                                                << record("a;b.txt", "", "打印成功", "5", "10:00:00");
    QTest::newRow("empty result") << QStringLiteral("d.pdf;09:00:00;;0;09:00:01")
                                  << record("d.pdf", "09:00:00", "", "0", "09:00:01");
    // Shapes that do not fit are read from the left, as files were read before.
    QTest::newRow("size is no number")
        << QStringLiteral("a;b;10:00:00;ok;x1;10:00:01") << record("a", "b", "10:00:00", "ok", "x1");
    QTest::newRow("last field is no time")
        << QStringLiteral("D;T1;S;N;T2") << record("D", "T1", "S", "N", "T2");
    QTest::newRow("too few fields") << QStringLiteral("short;only") << record("short", "only", "", "", "");
    QTest::newRow("empty") << QString() << record("", "", "", "", "");
    QTest::newRow("too many left to right")
        << QStringLiteral("1;2;3;4;5;6") << record("1", "2", "3", "4", "5");
}

void TestDetailFile::recordsAreReadFromTheRight()
{
    QFETCH(QString, text);
    QFETCH(DetailRecord, expected);
    const DetailRecord read = DetailRecord::fromText(text);
    QCOMPARE(read.document, expected.document);
    QCOMPARE(read.submitted, expected.submitted);
    QCOMPARE(read.result, expected.result);
    QCOMPARE(read.size, expected.size);
    QCOMPARE(read.handled, expected.handled);
}

void TestDetailFile::separatorsInNamesCannotForgeRecords()
{
    appendJobRecord(snA(), QStringLiteral("预算;草稿.txt;09:59:00"), QStringLiteral("打印成功"), 1234);
    appendJobRecord(snA(), QStringLiteral("x!+!伪造;09:00:00;打印成功;1;09:00:01!+!y.txt;09:59:01"),
        QStringLiteral("打印失败:a!+!b"), 10);
    appendJobRecord(snA(), QStringLiteral("!+!+!;09:59:02"), QStringLiteral("!+"), 3);
    appendJobRecord(snA(), QString(), QStringLiteral("打印失败:网络访问异常"), 0);
    // A record handed over whole is guarded too, its ending included.
    appendDetailRecord(snA(), QStringLiteral("raw!+!forged!+"));

    const QList<DetailRecord> records = parseDetailRecords(readDetailRecords(snA()));
    QCOMPARE(records.size(), 5);
    QCOMPARE(records.at(0), record("预算;草稿.txt", "09:59:00", "打印成功", "1234", "10:00:00"));
    QCOMPARE(records.at(1),
        record("x!+ !伪造;09:00:00;打印成功;1;09:00:01!+ !y.txt", "09:59:01", "打印失败:a!+ !b", "10",
            "10:00:00"));
    QCOMPARE(records.at(2), record("!+ !+ !", "09:59:02", "!+", "3", "10:00:00"));
    QCOMPARE(records.at(3), record("", "", "打印失败:网络访问异常", "0", "10:00:00"));
    QCOMPARE(records.at(4).document, QStringLiteral("raw!+ !forged!+ "));
}

void TestDetailFile::chineseSurvivesAWesternCodePage()
{
    QTextCodec *western = QTextCodec::codecForName("Windows-1252");
    QVERIFY(western);
    QTextCodec::setCodecForLocale(western);

    appendJobRecord(
        snA(), QStringLiteral("季度报表.xlsx;09:30:00"), QStringLiteral("打印失败:设备离线"), 2048);
    appendJobRecord(snA(), QStringLiteral("Café menu.pdf;09:31:00"), QStringLiteral("打印成功"), 99);

    const QByteArray raw = fileBytes(detailFilePath(snA()));
    QVERIFY2(!raw.contains('?'), raw.constData());
    const QList<DetailRecord> records = parseDetailRecords(readDetailRecords(snA()));
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0), record("季度报表.xlsx", "09:30:00", "打印失败:设备离线", "2048", "10:00:00"));
    QCOMPARE(records.at(1), record("Café menu.pdf", "09:31:00", "打印成功", "99", "10:00:00"));
}

void TestDetailFile::filesOfTheOldEncodingStillRead()
{
    // Written before the update, on a Chinese Windows, in its code page; continued after it in UTF-8.
    QTextCodec *gbk = QTextCodec::codecForName("GBK");
    QVERIFY(gbk);
    QTextCodec::setCodecForLocale(gbk);
    const QString old
        = QStringLiteral("旧文档.doc;08:00:00;打印成功;10;08:00:05!+!;打印失败:设备离线;20;08:10:00!+!");
    const QByteArray oldBytes = gbk->fromUnicode(old);
    QVERIFY(QString::fromUtf8(oldBytes) != old);
    appendBytes(detailFilePath(snA()), oldBytes);
    appendJobRecord(snA(), QStringLiteral("新文档.doc;09:00:00"), QStringLiteral("打印成功"), 30);

    const QString expected = old + QStringLiteral("新文档.doc;09:00:00;打印成功;30;10:00:00!+!");
    QCOMPARE(readDetailRecords(snA()), expected);
    DetailFileReader reader(snA(), Clock::currentDate());
    const QList<DetailRecord> records = reader.readAppended();
    QCOMPARE(records.size(), 3);
    QCOMPARE(records.at(0), record("旧文档.doc", "08:00:00", "打印成功", "10", "08:00:05"));
    QCOMPARE(records.at(1), record("", "", "打印失败:设备离线", "20", "08:10:00"));
    QCOMPARE(records.at(2), record("新文档.doc", "09:00:00", "打印成功", "30", "10:00:00"));
}

void TestDetailFile::anyDaysFileCanBeRead()
{
    appendDetailRecord(snA(), QStringLiteral("today"));
    Clock::setFixedForTesting(localAt(2026, 5, 3, 23, 0, 0));
    appendDetailRecord(snA(), QStringLiteral("yesterday"));
    Clock::setFixedForTesting(localAt(2026, 5, 4, 0, 30, 0));

    const QDate yesterday(2026, 5, 3);
    QCOMPARE(detailFilePath(snA(), yesterday), fileIn(snA() + QStringLiteral("2026-05-03.txt")));
    QCOMPARE(readDetailRecords(snA(), yesterday), QStringLiteral("yesterday!+!"));
    QCOMPARE(detailFileSize(snA(), yesterday), qint64(12));
    QCOMPARE(readDetailRecords(snA()), QStringLiteral("today!+!"));
    QCOMPARE(detailFileSize(snA(), QDate(2026, 5, 2)), qint64(0));
}

void TestDetailFile::readerTakesOnlyWholeAppendedRecords()
{
    const QString path = detailFilePath(snA());
    DetailFileReader reader(snA(), Clock::currentDate());
    QVERIFY(reader.readAppended().isEmpty());

    appendJobRecord(snA(), QStringLiteral("一.pdf;09:00:00"), QStringLiteral("打印成功"), 1);
    bool startedOver = true;
    QList<DetailRecord> records = reader.readAppended(&startedOver);
    QVERIFY(!startedOver);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.at(0).document, QStringLiteral("一.pdf"));
    QCOMPARE(reader.offset(), QFileInfo(path).size());
    QVERIFY(reader.readAppended().isEmpty());

    // Half a record, cut inside a character, then the rest of it.
    const QByteArray next = QStringLiteral("二号;文档.pdf;09:01:00;打印成功;1234;10:00:02!+!").toUtf8();
    const int cut = next.indexOf(QStringLiteral("文").toUtf8()) + 1;
    const qint64 wholeEnd = reader.offset();
    appendBytes(path, next.left(cut));
    QVERIFY(reader.readAppended().isEmpty());
    QCOMPARE(reader.offset(), wholeEnd);
    appendBytes(path, next.mid(cut, 10));
    QVERIFY(reader.readAppended().isEmpty());
    appendBytes(path, next.mid(cut + 10));
    appendJobRecord(snA(), QString(), QStringLiteral("打印失败:网络访问异常"), 0);
    records = reader.readAppended(&startedOver);
    QVERIFY(!startedOver);
    QCOMPARE(records.size(), 2);
    QCOMPARE(records.at(0), record("二号;文档.pdf", "09:01:00", "打印成功", "1234", "10:00:02"));
    QCOMPARE(records.at(1), record("", "", "打印失败:网络访问异常", "0", "10:00:00"));
    QCOMPARE(reader.offset(), QFileInfo(path).size());
    QVERIFY(reader.readAppended().isEmpty());
}

void TestDetailFile::readerStartsOverOnShrinkOrAnotherDay()
{
    const QString path = detailFilePath(snA());
    appendDetailRecord(snA(), QStringLiteral("a;09:00:00;打印成功;1;09:00:01"));
    appendDetailRecord(snA(), QStringLiteral("b;09:00:00;打印成功;2;09:00:02"));
    DetailFileReader reader(snA(), Clock::currentDate());
    QCOMPARE(reader.readAppended().size(), 2);

    // Replaced by a shorter file: everything it holds is new.
    QVERIFY(QFile::remove(path));
    appendDetailRecord(snA(), QStringLiteral("c;09:00:00;打印成功;3;09:00:03"));
    bool startedOver = false;
    QList<DetailRecord> records = reader.readAppended(&startedOver);
    QVERIFY(startedOver);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.at(0).document, QStringLiteral("c"));

    // Gone altogether: nothing is left to show.
    QVERIFY(QFile::remove(path));
    records = reader.readAppended(&startedOver);
    QVERIFY(startedOver);
    QVERIFY(records.isEmpty());

    // Another day's file is read from its beginning; the same day again changes nothing.
    Clock::setFixedForTesting(localAt(2026, 5, 5, 0, 0, 1));
    appendDetailRecord(snA(), QStringLiteral("d;23:59:00;打印成功;4;00:00:01"));
    reader.setDay(QDate(2026, 5, 5));
    records = reader.readAppended(&startedOver);
    QVERIFY(startedOver);
    QCOMPARE(records.size(), 1);
    QCOMPARE(records.at(0).document, QStringLiteral("d"));
    reader.setDay(QDate(2026, 5, 5));
    QVERIFY(reader.readAppended(&startedOver).isEmpty());
    QVERIFY(!startedOver);
}

QTEST_GUILESS_MAIN(TestDetailFile)
#include "tst_detailfile.moc"
