#include "cloudsimprocess.h"
#include "courierconstants.h"
#include "filebytes.h"
#include "programfolder.h"
#include "spoolerfixture.h"
#include "testprinters.h"
#include "testtiming.h"
#include "winsim/winsimcontrol.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QMap>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <unistd.h>

namespace {

const char kSerial[] = "A1B2C3D4E5F60718";

// Whether something listens on 127.0.0.1:port, as the kernel reports it (without connecting, which
// the program would take for a print job).
bool listensOn(quint16 port)
{
    QFile table(QStringLiteral("/proc/net/tcp"));
    if (!table.open(QIODevice::ReadOnly))
        return false;
    const QByteArray local = "0100007F:" + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    for (const QByteArray &line : table.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields.at(1) == local && fields.at(3) == "0A")
            return true;
    }
    return false;
}

// The scheduling priority of each of a process's threads, by thread id, as the kernel reports it:
// lower runs first, real-time threads below zero, ordinary ones at 20 plus their niceness.
QMap<qint64, int> threadPriorities(qint64 pid)
{
    QMap<qint64, int> priorities;
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks.filePath(tid + QStringLiteral("/stat")));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        // The fields after the name in parentheses, which may itself hold spaces; the priority is the
        // 18th field of the line, the 16th after the name.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 15)
            priorities.insert(tid.toLongLong(), fields.at(15).toInt());
    }
    return priorities;
}

} // namespace

// The real program, as a process of its own, against the cloud stand-in at the program's own
// service address and winsim: what a user sees when printing from an application.
class TestProgram : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_folder;
    CloudSimProcess m_sim;
    QProcess m_program;

    QString path(const QString &name) const { return m_folder.filePath(name); }

    void startProgram(QProcess &process, const QStringList &arguments = QStringList())
    {
        process.setWorkingDirectory(m_folder.path());
        process.setProcessEnvironment(ProgramFolder::ownSessionEnvironment(m_folder.path()));
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(path(QStringLiteral("PrintCourier")), arguments);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_folder.isValid());
        QVERIFY(ProgramFolder::installProgram(m_folder.path()));
        const QUrl service(QStringLiteral(COURIER_CLOUD_SERVICE_BASE));
        QVERIFY2(
            m_sim.start({ QStringLiteral("--pending-polls"), QStringLiteral("1"), QStringLiteral("--device"),
                            QLatin1String(kSerial) + QStringLiteral("=online") },
                quint16(service.port())),
            "the cloud stand-in could not take the program's service address");
        QVERIFY(winsim::reset());
        QVERIFY(
            winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("Office"), 1, QLatin1String(kSerial)));
    }

    void cleanupTestCase()
    {
        m_program.kill();
        m_program.waitForFinished();
        winsim::reset();
    }

    void listsAndListensAtStartUp()
    {
        startProgram(m_program);
        QVERIFY(m_program.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(listensOn(8101), TestTiming::scaled(20000));

        // The window's thread runs above the relay's, which it started, and they at normal priority.
        const QMap<qint64, int> priorities = threadPriorities(m_program.processId());
        QVERIFY(priorities.contains(m_program.processId()));
        QVERIFY(priorities.size() > 1);
        const int ours = threadPriorities(QCoreApplication::applicationPid()).value(::gettid());
        const int window = priorities.value(m_program.processId());
        if (::geteuid() != 0) {
            QCOMPARE(window, ours); // refused without the privilege, and said so in the log
            return;
        }
        QVERIFY2(window < ours, qPrintable(QString::number(window)));
        for (auto it = priorities.cbegin(); it != priorities.cend(); ++it) {
            if (it.key() != m_program.processId())
                QVERIFY2(it.value() > window,
                    qPrintable(QStringLiteral("thread %1 at %2").arg(it.key()).arg(it.value())));
        }
    }

    void printFromAnApplication()
    {
        QByteArray job(1024 * 1024, Qt::Uninitialized);
        QRandomGenerator generator(42);
        generator.fillRange(reinterpret_cast<quint32 *>(job.data()), job.size() / 4);
        QFile file(path(QStringLiteral("big.bin")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(job);
        file.close();

        QProcess print;
        print.start(QStringLiteral(COURIER_BIN_DIR "/winsim"),
            { QStringLiteral("print"), QStringLiteral("Office"), file.fileName(),
                QStringLiteral("--document"), QStringLiteral("年度报告.pdf") });
        QVERIFY(print.waitForFinished(20000));
        QCOMPARE(print.exitCode(), 0);

        QJsonArray jobs;
        QTRY_VERIFY_WITH_TIMEOUT((jobs = m_sim.adminGet(QStringLiteral("/admin/jobs"))
                                             .object()
                                             .value(QStringLiteral("jobs"))
                                             .toArray(),
                                     jobs.size() == 1),
            TestTiming::scaled(30000));
        const QJsonObject received = jobs.at(0).toObject();
        QCOMPARE(received.value(QStringLiteral("serial")).toString(), QLatin1String(kSerial));
        QCOMPARE(m_sim.jobData(received.value(QStringLiteral("jobId")).toString()), job);

        // The card follows the job to its end and records it once.
        const QString details = path(QStringLiteral("details/")) + QLatin1String(kSerial)
            + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".txt");
        QTRY_VERIFY_WITH_TIMEOUT(fileBytes(details).endsWith("!+!"), TestTiming::scaled(30000));
        const QStringList records
            = QString::fromUtf8(fileBytes(details)).split(QStringLiteral("!+!"), Qt::SkipEmptyParts);
        QCOMPARE(records.size(), 1);
        const QStringList fields = records.at(0).split(QLatin1Char(';'));
        QCOMPARE(fields.size(), 5);
        QCOMPARE(fields.at(0), QStringLiteral("年度报告.pdf"));
        QCOMPARE(fields.at(2), QStringLiteral("打印成功"));
        QCOMPARE(fields.at(3), QString::number(job.size()));

        const QString log = QString::fromUtf8(fileBytes(path(QStringLiteral("logs/"))
            + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log")));
        QVERIFY(log.contains(QStringLiteral("24_PrinterServer incomingConnection")));
    }

    void secondStartLeavesTheFirst()
    {
        QProcess second;
        startProgram(second, { QStringLiteral("--again") });
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(m_program.state(), QProcess::Running);
        QVERIFY(listensOn(8101));
    }
};

QTEST_GUILESS_MAIN(TestProgram)
#include "tst_program.moc"
