#include "clock.h"
#include "logging.h"
#include "programwaits.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <cstring>

namespace {

QString logsDir()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/logs");
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

QDateTime at(const char *text)
{
    return QDateTime::fromString(QString::fromLatin1(text), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
}

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        QDir(logsDir()).removeRecursively();
        QVERIFY(QDir().mkpath(logsDir()));
        qInstallMessageHandler(logMessageHandler);
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        Clock::resetForTesting();
        ProgramWaits::resetForTesting();
        QDir(logsDir()).removeRecursively();
    }

    void lineFormat_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QByteArray>("line");
        QTest::newRow("debug")
            << int(QtDebugMsg) << QStringLiteral("24_PrinterServer incomingConnection")
            << QByteArray("[2026-12-07 13:45:09 042] Debug: 24_PrinterServer incomingConnection\r\n");
        QTest::newRow("info") << int(QtInfoMsg) << QStringLiteral("x")
                              << QByteArray("[2026-12-07 13:45:09 042] Info: x\r\n");
        QTest::newRow("warning") << int(QtWarningMsg) << QStringLiteral("w")
                                 << QByteArray("[2026-12-07 13:45:09 042] Warning: w\r\n");
        QTest::newRow("critical") << int(QtCriticalMsg) << QStringLiteral("listen failed")
                                  << QByteArray("[2026-12-07 13:45:09 042] Critical: listen failed\r\n");
        QTest::newRow("placeholders stay")
            << int(QtDebugMsg) << QStringLiteral("a %1 b %2 c %3")
            << QByteArray("[2026-12-07 13:45:09 042] Debug: a %1 b %2 c %3\r\n");
        QTest::newRow("chinese") << int(QtDebugMsg) << QStringLiteral("删除旧日志")
                                 << QByteArray("[2026-12-07 13:45:09 042] Debug: ")
                + QString::fromUtf8("删除旧日志").toLocal8Bit() + QByteArray("\r\n");
    }

    void lineFormat()
    {
        QFETCH(int, type);
        QFETCH(QString, message);
        QFETCH(QByteArray, line);
        Clock::setFixedForTesting(at("2026-12-07 13:45:09.042"));
        logMessageHandler(QtMsgType(type), QMessageLogContext(), message);
        QCOMPARE(readAll(logFilePath(QDate(2026, 12, 7))), line);
    }

    void debugStreamQuotesText()
    {
        Clock::setFixedForTesting(at("2026-12-07 01:02:03.004"));
        qDebug() << "argv[" << 1 << "]=" << QStringLiteral("--x");
        QCOMPARE(readAll(logFilePath(QDate(2026, 12, 7))),
            QByteArray("[2026-12-07 01:02:03 004] Debug: argv[ 1 ]= \"--x\"\r\n"));
    }

    void appendsToExistingFile()
    {
        Clock::setFixedForTesting(at("2026-12-07 08:00:00.000"));
        qDebug("first");
        qWarning("second");
        QCOMPARE(readAll(logFilePath(QDate(2026, 12, 7))),
            QByteArray("[2026-12-07 08:00:00 000] Debug: first\r\n"
                       "[2026-12-07 08:00:00 000] Warning: second\r\n"));
    }

    void fileFollowsDateOfWriting()
    {
        Clock::setFixedForTesting(at("2026-12-07 23:59:59.999"));
        qDebug("before midnight");
        Clock::setFixedForTesting(at("2026-12-08 00:00:00.000"));
        qDebug("after midnight");
        QCOMPARE(readAll(logFilePath(QDate(2026, 12, 7))),
            QByteArray("[2026-12-07 23:59:59 999] Debug: before midnight\r\n"));
        QCOMPARE(readAll(logFilePath(QDate(2026, 12, 8))),
            QByteArray("[2026-12-08 00:00:00 000] Debug: after midnight\r\n"));
    }

    void dayFileStopsAtItsLimitWithOneNote()
    {
        ProgramWaits waits;
        waits.maxLogFileBytes = 1000;
        ProgramWaits::setForTesting(waits);
        Clock::setFixedForTesting(at("2026-12-07 10:00:00.000"));
        const QString line = QString(60, QLatin1Char('x'));
        for (int i = 0; i < 100; ++i)
            qDebug().noquote() << line;
        const QByteArray full = readAll(logFilePath(QDate(2026, 12, 7)));
        QVERIFY(full.size() <= 1000 + 200);
        QCOMPARE(full.count("nothing more is logged today"), 1);
        QVERIFY(full.endsWith("nothing more is logged today\r\n"));
        // A restart the same day finds the note and adds neither lines nor notes. Another limit
        // makes the handler look at the file again, as a restart does.
        waits.maxLogFileBytes = 1001;
        ProgramWaits::setForTesting(waits);
        qDebug("after a restart");
        QCOMPARE(readAll(logFilePath(QDate(2026, 12, 7))), full);
        // A larger limit gives the day room again after its note.
        waits.maxLogFileBytes = 100000;
        ProgramWaits::setForTesting(waits);
        qDebug("with room again");
        const QByteArray more = readAll(logFilePath(QDate(2026, 12, 7)));
        QVERIFY(more.startsWith(full));
        QVERIFY(more.endsWith("] Debug: with room again\r\n"));
        // The next day starts a file of its own.
        Clock::setFixedForTesting(at("2026-12-08 00:00:01.000"));
        qDebug("a new day");
        QVERIFY(readAll(logFilePath(QDate(2026, 12, 8))).endsWith("a new day\r\n"));
    }

    void excerptsAreBounded()
    {
        QCOMPARE(logExcerpt("{\"code\":0}"), QStringLiteral("{\"code\":0}"));
        const QByteArray answer(1 << 20, 'a');
        const QString excerpt = logExcerpt(answer);
        QVERIFY(excerpt.size() < 4200);
        QVERIFY(excerpt.startsWith(QString(4096, QLatin1Char('a'))));
        QVERIFY(excerpt.endsWith(QStringLiteral("(1048576 bytes in all)")));
    }

    void concurrentThreadsWriteWholeLines()
    {
        Clock::setFixedForTesting(at("2026-12-07 10:00:00.000"));
        const int perThread = 400;
        auto writer = [perThread](char tag) {
            return QThread::create([perThread, tag] {
                for (int i = 0; i < perThread; ++i)
                    qDebug("%c-%04d-%s", tag, i, QByteArray(60, tag).constData());
            });
        };
        QScopedPointer<QThread> a(writer('a'));
        QScopedPointer<QThread> b(writer('b'));
        a->start();
        b->start();
        QVERIFY(a->wait(60000));
        QVERIFY(b->wait(60000));

        const QList<QByteArray> lines = readAll(logFilePath(QDate(2026, 12, 7))).split('\n');
        QCOMPARE(lines.size(), 2 * perThread + 1);
        QVERIFY(lines.last().isEmpty());
        const QRegularExpression whole(
            QStringLiteral("^\\[2026-12-07 10:00:00 000\\] Debug: ([ab])-\\d{4}-(\\1){60}\\r$"));
        int counts[2] = { 0, 0 };
        for (int i = 0; i < lines.size() - 1; ++i) {
            const auto match = whole.match(QString::fromLatin1(lines.at(i)));
            QVERIFY2(match.hasMatch(), lines.at(i).constData());
            ++counts[match.captured(1) == QLatin1String("b")];
        }
        QCOMPARE(counts[0], perThread);
        QCOMPARE(counts[1], perThread);
    }

    void missingFolderWritesNothing()
    {
        QVERIFY(QDir(logsDir()).removeRecursively());
        qDebug("lost");
        qCritical("lost too");
        QVERIFY(!QFileInfo::exists(logsDir()));
    }

    void fatalEndsProcessWithoutLine()
    {
        Clock::setFixedForTesting(at("2026-12-07 12:00:00.000"));
        qDebug("before");
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--fatal-child") });
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);
        // The child wrote one debug line first, with the system clock, into today's file.
        const QByteArray today = readAll(logFilePath(QDate::currentDate()));
        QVERIFY(today.contains("Debug: child alive\r\n"));
        QVERIFY(!today.contains("Fatal"));
        QVERIFY(!today.contains("the end"));
    }

    void retentionKeepsLastDays()
    {
        const QStringList kept = { QStringLiteral("2026-12-02.log"), QStringLiteral("2026-12-03.log"),
            QStringLiteral("2026-12-06.log"), QStringLiteral("2026-12-07.log"), QStringLiteral("notes.log"),
            QStringLiteral("2026-12-7.log"), QStringLiteral("2026-12-01.txt") };
        const QStringList deleted = { QStringLiteral("2026-12-01.log"), QStringLiteral("2026-11-30.log"),
            QStringLiteral("2025-12-07.log") };
        for (const QString &name : kept + deleted) {
            QFile file(logsDir() + QLatin1Char('/') + name);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        qInstallMessageHandler(nullptr);
        Clock::setFixedForTesting(at("2026-12-07 09:30:00.000"));
        LogFileManage(5);
        for (const QString &name : kept)
            QVERIFY2(QFileInfo::exists(logsDir() + QLatin1Char('/') + name), qPrintable(name));
        for (const QString &name : deleted)
            QVERIFY2(!QFileInfo::exists(logsDir() + QLatin1Char('/') + name), qPrintable(name));
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--fatal-child") == 0) {
        qInstallMessageHandler(logMessageHandler);
        qDebug("child alive");
        qFatal("the end");
        return 0;
    }
    TestLogging test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_logging.moc"
