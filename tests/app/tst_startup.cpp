#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The real program, started twice as a user would: from a copy in a folder of its own, so that its
// instance identity and its log folder belong to this test alone.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_program;

    QByteArray log() const
    {
        QByteArray all;
        const QDir logs(m_dir.path() + QStringLiteral("/logs"));
        for (const QString &name : logs.entryList({QStringLiteral("*.log")}, QDir::Files, QDir::Name)) {
            QFile file(logs.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                all += file.readAll();
        }
        return all;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_program = m_dir.path() + QStringLiteral("/PrintCourier");
        QVERIFY(QFile::copy(QStringLiteral(COURIER_BIN_DIR "/PrintCourier"), m_program));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("logs")));
        QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("details")));
    }

    void secondStartExitsAndFirstRuns()
    {
        QProcess first;
        first.setWorkingDirectory(m_dir.path());
        first.start(m_program, QStringList());
        QVERIFY(first.waitForStarted());
        // The translator path is the last thing logged before the window exists.
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("/Translations/qt_zh_CN.qm"), 20000);
        QCOMPARE(first.state(), QProcess::Running);

        QProcess second;
        second.setWorkingDirectory(m_dir.path());
        second.start(m_program, {QStringLiteral("--alpha"), QStringLiteral("第二")});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);

        const QByteArray text = log();
        QVERIFY(text.contains("Debug: application run argc= 1\r\n"));
        QVERIFY(text.contains("Debug: application run argc= 3\r\n"));
        QVERIFY(text.contains("Debug: argv[ 0 ]= \"" + m_program.toUtf8() + "\"\r\n"));
        QVERIFY(text.contains("Debug: argv[ 1 ]= \"--alpha\"\r\n"));
        QVERIFY(text.contains(QString::fromUtf8("Debug: argv[ 2 ]= \"第二\"\r\n").toLocal8Bit()));
        // The second process went no further than the message: only one translator line.
        QCOMPARE(text.count("/Translations/qt_zh_CN.qm"), 1);

        first.kill();
        first.waitForFinished();
    }

    void startsWithoutTranslationsOrLogs()
    {
        QTemporaryDir bare;
        const QString program = bare.path() + QStringLiteral("/PrintCourier");
        QVERIFY(QFile::copy(m_program, program));
        QProcess run;
        run.setWorkingDirectory(bare.path());
        run.start(program, QStringList());
        QVERIFY(run.waitForStarted());
        // Still running after start-up settled: neither the missing translation nor the missing log
        // folder stops the program, and nothing creates the folder.
        QVERIFY(!run.waitForFinished(3000));
        QVERIFY(!QFileInfo::exists(bare.path() + QStringLiteral("/logs")));
        run.kill();
        run.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
