// The real program killed (SIGKILL) at each step of a job and started again: every job reaches the
// service once, or is recorded as failed and kept to be sent again; every job has one record; the
// journal holds nothing unfinished. A raw loopback peer plays the spooler, so that the test sees
// whether the program closed the connection in order (the job was taken) or reset it (it was not).
#include "cloudsimprocess.h"
#include "courierconstants.h"
#include "figures.h"
#include "filebytes.h"
#include "programfolder.h"
#include "reliabilityrig.h"
#include "spoolerfixture.h"
#include "testprinters.h"
#include "testtiming.h"
#include "winsim/winsimcontrol.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const char kSerial[] = "C0FFEE0123456789";
// A raw peer's jobs have no spooler job to describe: a record is ";result;size;handled".
const int kResultField = 1;
const int kSizeField = 2;
const quint16 kPort = 8101;

// The spooler's side of one job connection, at the level of the socket.
class RawSpooler
{
public:
    enum class End { Closed, Reset, Open };

    ~RawSpooler()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    bool connectTo(quint16 port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return m_fd >= 0 && ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    }

    bool send(const QByteArray &bytes)
    {
        qint64 sent = 0;
        while (sent < bytes.size()) {
            const ssize_t n
                = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n <= 0)
                return false;
            sent += n;
        }
        return true;
    }

    void finish() { ::shutdown(m_fd, SHUT_WR); }

    // How the receiver ended the connection, waiting at most `ms`.
    End waitForEnd(int ms)
    {
        pollfd entry { m_fd, POLLIN, 0 };
        if (::poll(&entry, 1, ms) <= 0)
            return End::Open;
        char byte;
        const ssize_t n = ::recv(m_fd, &byte, 1, 0);
        if (n == 0)
            return End::Closed;
        return (n < 0 && errno == ECONNRESET) ? End::Reset : End::Open;
    }

private:
    int m_fd = -1;
};

} // namespace

class TestCrash : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void killedWhileReceiving();
    void killedWithJobsReceivedAndFollowed();
    void killedWhilePosting();

private:
    QString path(const QString &name) const { return m_folder.filePath(name); }
    void startProgram();
    void killProgram();
    // The journal's jobs by state, read the way another process reads it.
    QMap<QString, int> journalStates();
    int unfinishedJobs();
    // Today's records of the printer, split into fields.
    QList<QStringList> records();
    int servicePrintRequests();
    // Sends a whole job and returns how the program ended the connection.
    RawSpooler::End sendWholeJob(const QByteArray &job);
    void account(const QString &tried, const QString &outcome, int sent, int delivered, int recorded);

    QTemporaryDir m_folder;
    CloudSimProcess m_sim;
    QProcess m_program;
    Figures m_figures;
};

void TestCrash::initTestCase()
{
    QVERIFY(m_folder.isValid());
    QVERIFY(ProgramFolder::installProgram(m_folder.path()));
    const QUrl service(QStringLiteral(COURIER_CLOUD_SERVICE_BASE));
    QVERIFY2(m_sim.start({ QStringLiteral("--pending-polls"), QStringLiteral("0"), QStringLiteral("--device"),
                             QLatin1String(kSerial) + QStringLiteral("=online") },
                 quint16(service.port())),
        "the cloud stand-in could not take the program's service address");
    QVERIFY(winsim::reset());
    QVERIFY(winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
    QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("Office"), 1, QLatin1String(kSerial)));
    // The suite's raw sockets are the spooler the program serves.
    QVERIFY(SpoolerFixture::playSpooler());
}

void TestCrash::init()
{
    QVERIFY(m_sim.reset());
    startProgram();
}

void TestCrash::cleanup()
{
    killProgram();
    // Whatever happened, nothing stays unfinished.
    QCOMPARE(unfinishedJobs(), 0);
}

void TestCrash::cleanupTestCase()
{
    killProgram();
    winsim::reset();
    QVERIFY(m_figures.write(QStringLiteral("tst_crash"), QStringLiteral("The program killed mid-job")));
}

void TestCrash::account(const QString &tried, const QString &outcome, int sent, int delivered, int recorded)
{
    Figures::Row row;
    row.tried = tried;
    row.outcome = outcome;
    row.sent = sent;
    row.delivered = delivered;
    row.recorded = recorded;
    row.unrecorded = sent - recorded;
    m_figures.add(row);
}

void TestCrash::startProgram()
{
    m_program.setWorkingDirectory(m_folder.path());
    m_program.setProcessEnvironment(ProgramFolder::ownSessionEnvironment(m_folder.path()));
    m_program.setProcessChannelMode(QProcess::ForwardedChannels);
    m_program.start(path(QStringLiteral("PrintCourier")), QStringList());
    QVERIFY(m_program.waitForStarted());
    // Up when it takes connections; a probe connection would be a job, so the log says it.
    const QString log = path(QStringLiteral("logs/"))
        + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".log");
    const int starts = QString::fromUtf8(fileBytes(log)).count(QStringLiteral("recovered outbox"));
    QTRY_VERIFY_WITH_TIMEOUT(
        QString::fromUtf8(fileBytes(log)).count(QStringLiteral("recovered outbox")) > starts,
        TestTiming::scaled(30000));
}

void TestCrash::killProgram()
{
    if (m_program.state() == QProcess::NotRunning)
        return;
    m_program.kill();
    m_program.waitForFinished();
}

QMap<QString, int> TestCrash::journalStates()
{
    QMap<QString, int> states;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("peek"));
        db.setDatabaseName(path(QStringLiteral("outbox.db")));
        if (db.open()) {
            QSqlQuery query(QStringLiteral("SELECT state, count(*) FROM jobs GROUP BY state"), db);
            while (query.next())
                states.insert(query.value(0).toString(), query.value(1).toInt());
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("peek"));
    return states;
}

int TestCrash::unfinishedJobs()
{
    const QMap<QString, int> states = journalStates();
    int count = 0;
    for (auto it = states.cbegin(); it != states.cend(); ++it) {
        if (it.key() != QLatin1String("final"))
            count += it.value();
    }
    return count;
}

QList<QStringList> TestCrash::records()
{
    const QString details = path(QStringLiteral("details/")) + QLatin1String(kSerial)
        + QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")) + QStringLiteral(".txt");
    QList<QStringList> rows;
    const QStringList texts
        = QString::fromUtf8(fileBytes(details)).split(QStringLiteral("!+!"), Qt::SkipEmptyParts);
    for (const QString &text : texts)
        rows.append(text.split(QLatin1Char(';')));
    return rows;
}

int TestCrash::servicePrintRequests()
{
    return m_sim.stats().value(QStringLiteral("print")).toObject().value(QStringLiteral("requests")).toInt();
}

RawSpooler::End TestCrash::sendWholeJob(const QByteArray &job)
{
    RawSpooler spooler;
    if (!spooler.connectTo(kPort) || !spooler.send(job))
        return RawSpooler::End::Open;
    spooler.finish();
    return spooler.waitForEnd(30000);
}

void TestCrash::killedWhileReceiving()
{
    const int before = records().size();
    RawSpooler spooler;
    QVERIFY(spooler.connectTo(kPort));
    const QByteArray job = Rig::jobBytes(QStringLiteral("R"), 300000);
    QVERIFY(spooler.send(job.left(100000)));
    QTRY_COMPARE_WITH_TIMEOUT(
        journalStates().value(QStringLiteral("receiving")), 1, TestTiming::scaled(10000));
    killProgram();
    // A reset: the spooler knows the job was not delivered and keeps it.
    QCOMPARE(spooler.waitForEnd(10000), RawSpooler::End::Reset);

    startProgram();
    QCOMPARE(unfinishedJobs(), 0);
    QCOMPARE(servicePrintRequests(), 0);
    QCOMPARE(records().size(), before);
    // The spooler sends it again, and it prints once.
    QCOMPARE(sendWholeJob(job), RawSpooler::End::Closed);
    QTRY_COMPARE_WITH_TIMEOUT(records().size(), before + 1, TestTiming::scaled(30000));
    QCOMPARE(records().last().value(kResultField), QStringLiteral("打印成功"));
    QCOMPARE(records().last().value(kSizeField), QString::number(job.size()));
    QCOMPARE(m_sim.jobs().size(), 1);
    QCOMPARE(servicePrintRequests(), 1);
    account(QStringLiteral("killed while receiving"),
        QStringLiteral("reset; sent again by the spooler, printed once"), 1, 1, 1);
}

void TestCrash::killedWithJobsReceivedAndFollowed()
{
    // Job A is followed for a while; job B waits behind it, whole, in the outbox.
    QVERIFY(m_sim.configure(R"({"pendingPolls": 4})"));
    const int before = records().size();
    const QByteArray a = Rig::jobBytes(QStringLiteral("A"), 200000);
    const QByteArray b = Rig::jobBytes(QStringLiteral("B"), 150000);
    QCOMPARE(sendWholeJob(a), RawSpooler::End::Closed);
    QTRY_COMPARE_WITH_TIMEOUT(journalStates().value(QStringLiteral("posted")), 1, TestTiming::scaled(10000));
    // Taken and closed in order: the spooler is done with B, so from here on it is the program's.
    QCOMPARE(sendWholeJob(b), RawSpooler::End::Closed);
    QTRY_COMPARE_WITH_TIMEOUT(
        journalStates().value(QStringLiteral("received")), 1, TestTiming::scaled(10000));
    killProgram();
    QCOMPARE(servicePrintRequests(), 1);

    startProgram();
    QTRY_COMPARE_WITH_TIMEOUT(records().size(), before + 2, TestTiming::scaled(60000));
    QTRY_COMPARE_WITH_TIMEOUT(unfinishedJobs(), 0, TestTiming::scaled(10000));
    const QList<QStringList> rows = records().mid(before);
    QCOMPARE(rows.at(0).value(kResultField), QStringLiteral("打印成功"));
    QCOMPARE(rows.at(0).value(kSizeField), QString::number(a.size()));
    QCOMPARE(rows.at(1).value(kResultField), QStringLiteral("打印成功"));
    QCOMPARE(rows.at(1).value(kSizeField), QString::number(b.size()));
    // Each job reached the service exactly once, in its order.
    const QJsonArray jobs = m_sim.jobs();
    QCOMPARE(jobs.size(), 2);
    QCOMPARE(m_sim.jobData(jobs.at(0).toObject().value(QStringLiteral("jobId")).toString()), a);
    QCOMPARE(m_sim.jobData(jobs.at(1).toObject().value(QStringLiteral("jobId")).toString()), b);
    QCOMPARE(servicePrintRequests(), 2);
    account(QStringLiteral("killed with one job followed and one received"),
        QStringLiteral("followed again and posted after the restart, each printed once"), 2, 2, 2);
}

void TestCrash::killedWhilePosting()
{
    // The service holds the post unanswered; the program dies not knowing whether it printed.
    QVERIFY(m_sim.configure(R"({"print": {"delayMs": 20000}})"));
    const int before = records().size();
    const QByteArray job = Rig::jobBytes(QStringLiteral("P"), 100000);
    QCOMPARE(sendWholeJob(job), RawSpooler::End::Closed);
    QTRY_COMPARE_WITH_TIMEOUT(journalStates().value(QStringLiteral("posting")), 1, TestTiming::scaled(10000));
    QTRY_COMPARE_WITH_TIMEOUT(servicePrintRequests(), 1, TestTiming::scaled(10000));
    killProgram();
    QVERIFY(m_sim.configure(R"({"print": {"delayMs": 0}})"));

    startProgram();
    QTRY_COMPARE_WITH_TIMEOUT(records().size(), before + 1, TestTiming::scaled(30000));
    QCOMPARE(records().last().value(kResultField), QStringLiteral("打印失败:网络访问异常"));
    QCOMPARE(records().last().value(kSizeField), QString::number(job.size()));
    // Never posted a second time on the program's own account, and kept to be sent again.
    QCOMPARE(servicePrintRequests(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(unfinishedJobs(), 0, TestTiming::scaled(10000));
    const QStringList spooled = QDir(path(QStringLiteral("spool"))).entryList({ QStringLiteral("*.job") });
    QCOMPARE(spooled.size(), 1);
    QVERIFY(fileBytes(path(QStringLiteral("spool/")) + spooled.first()) == job);
    account(QStringLiteral("killed while posting, the answer never came"),
        QStringLiteral("recorded 打印失败:网络访问异常, not posted again, kept to be sent again"), 1, 1, 1);
}

QTEST_GUILESS_MAIN(TestCrash)
#include "tst_crash.moc"
