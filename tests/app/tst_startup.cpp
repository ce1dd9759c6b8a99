#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The real program, started twice as a user would: from a copy in a folder of its own, with a
// temporary folder of its own, so that its instance identity and its log folder belong to this
// test alone.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_session;
    QString m_program;

    static bool install(const QString &folder, QString *program)
    {
        *program = folder + QStringLiteral("/PrintCourier");
        return QFile::copy(QStringLiteral(COURIER_BIN_DIR "/PrintCourier"), *program)
            && QDir(folder).mkpath(QStringLiteral("logs")) && QDir(folder).mkpath(QStringLiteral("details"));
    }

    // Started from its folder in this test's own logon session.
    void start(QProcess &process, const QString &program, const QStringList &arguments = QStringList())
    {
        process.setWorkingDirectory(QFileInfo(program).path());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("TMPDIR"), m_session.path());
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
    }

    QByteArray log() const { return logOf(m_dir.path()); }

    static QByteArray logOf(const QString &folder)
    {
        QByteArray all;
        const QDir logs(folder + QStringLiteral("/logs"));
        for (const QString &name : logs.entryList({ QStringLiteral("*.log") }, QDir::Files, QDir::Name)) {
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
        QVERIFY(m_session.isValid());
        QVERIFY(install(m_dir.path(), &m_program));
    }

    void secondStartExitsAndFirstRuns()
    {
        QProcess first;
        start(first, m_program);
        QVERIFY(first.waitForStarted());
        // The translator path is the last thing logged before the window exists.
        QTRY_VERIFY_WITH_TIMEOUT(log().contains("/Translations/qt_zh_CN.qm"), 20000);
        QCOMPARE(first.state(), QProcess::Running);

        QProcess second;
        start(second, m_program, { QStringLiteral("--alpha"), QStringLiteral("第二") });
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

    // One user's program, installed twice in two folders: the second start brings the first
    // forward instead of running beside it with printers it cannot serve.
    void secondInstallationRaisesTheFirst()
    {
        QTemporaryDir other;
        QString otherProgram;
        QVERIFY(install(other.path(), &otherProgram));
        // The log already holds an earlier case's start: this start's own line is the next one.
        const int startsBefore = log().count("/Translations/qt_zh_CN.qm");
        QProcess first;
        start(first, m_program);
        QVERIFY(first.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(log().count("/Translations/qt_zh_CN.qm") > startsBefore, 20000);

        QProcess second;
        start(second, otherProgram);
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(first.state(), QProcess::Running);
        QTRY_VERIFY(log().contains("message from another start: \"raise_window_noop\""));
        // The second went no further than the message: no window, no translator.
        QVERIFY(logOf(other.path()).contains("application run argc= 1"));
        QVERIFY(!logOf(other.path()).contains("/Translations/qt_zh_CN.qm"));

        first.kill();
        first.waitForFinished();
    }

    void startsWithoutTranslationsOrLogs()
    {
        QTemporaryDir bare;
        const QString program = bare.path() + QStringLiteral("/PrintCourier");
        QVERIFY(QFile::copy(m_program, program));
        QProcess run;
        start(run, program);
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
