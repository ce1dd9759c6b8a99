#include "cloudsimprocess.h"
#include "dialogwatcher.h"
#include "driveritem.h"
#include "figures.h"
#include "jobaccount.h"
#include "liveobjects.h"
#include "logcapture.h"
#include "portwatch.h"
#include "printerserver.h"
#include "reliabilityrig.h"
#include "spoolerfixture.h"
#include "testtiming.h"
#include "tolmainwindow.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

// The spooler's side of a job connection behaving badly, against the assembled program: a
// connection that never ends, one that ends before it began, a job in crumbs, several connections
// at once. Bare loopback sockets play the spooler where winsim's despooler would behave.
namespace {

const char kPrinter[] = "Relay";
const char kSerial[] = "1A2B3C4D5E6F7081";
const quint16 kPort = Rig::portOfIndex(Rig::kFirstIndex);
// The receiver's wait for the end of a job, shortened so that "never" takes a second and a half.
const int kReceiveLimitMs = 1500;

std::unique_ptr<QTcpSocket> connectToPrinter()
{
    auto socket = std::make_unique<QTcpSocket>();
    socket->connectToHost(QHostAddress::LocalHost, kPort);
    if (!socket->waitForConnected(5000))
        return nullptr;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    return socket;
}

// Plays a spooler that sends a job a piece at a time, one piece per tick, and closes after the last.
class Trickle : public QObject
{
public:
    Trickle(QTcpSocket *spooler, const QByteArray &job, int intervalMs, std::function<int(int)> pieceSize)
        : m_spooler(spooler)
        , m_job(job)
        , m_pieceSize(std::move(pieceSize))
    {
        connect(&m_timer, &QTimer::timeout, this, &Trickle::sendPiece);
        m_timer.start(intervalMs);
    }
    int pieces() const { return m_pieces; }

private:
    void sendPiece()
    {
        const int n = m_pieceSize(m_pieces);
        m_spooler->write(m_job.mid(m_offset, n));
        m_spooler->flush();
        m_offset += n;
        ++m_pieces;
        if (m_offset >= m_job.size()) {
            m_timer.stop();
            SpoolerFixture::endJob(m_spooler);
        }
    }

    QTcpSocket *m_spooler;
    QByteArray m_job;
    std::function<int(int)> m_pieceSize;
    QTimer m_timer;
    int m_offset = 0;
    int m_pieces = 0;
};

} // namespace

class TestSpoolerFaults : public QObject
{
    Q_OBJECT

private:
    LiveObjects m_live;
    CloudSimProcess m_sim;
    Figures m_figures;

    // Ends a case: the port is free and takes a job from the spooler as usual, and nothing of the
    // case's jobs is left behind.
    void finishCase(PortWatch &watch, Figures::Row row, int recordsBefore)
    {
        QVERIFY(Rig::settle(watch, row));
        const SentJob next { QStringLiteral("next.txt"),
            Rig::jobBytes(row.tried + QStringLiteral(" next"), 600) };
        Rig::jobGoesThrough(m_sim, QLatin1String(kPrinter), QLatin1String(kSerial), next, recordsBefore);
        if (QTest::currentTestFailed())
            return;
        Rig::closeCase(m_figures, row, watch);
    }

    // The program's own receive limit, until the next case or the suite's waits are set again.
    static void useOwnReceiveLimit()
    {
        ProgramWaits waits = Rig::suiteWaits();
        waits.jobReceiveTimeoutMs = ProgramWaits().jobReceiveTimeoutMs;
        ProgramWaits::setForTesting(waits);
    }

private slots:
    void initTestCase()
    {
        ProgramWaits waits;
        waits.jobReceiveTimeoutMs = kReceiveLimitMs;
        QVERIFY(Rig::startSuite(m_sim, waits));
    }

    void init()
    {
        QVERIFY(Rig::freshCaseWithPrinter(m_sim, QLatin1String(kPrinter), QLatin1String(kSerial)));
        // Bare sockets of the suite play the spooler; a job printed through winsim hands it back.
        QVERIFY(SpoolerFixture::playSpooler());
    }

    void cleanupTestCase()
    {
        QVERIFY(Rig::endSuite(m_figures, QStringLiteral("20-spoolerfaults"),
            QStringLiteral("The spooler's connection misbehaves")));
    }

    void connectionNeverCloses_data();
    void connectionNeverCloses();
    void closesHavingSentNothing();
    void slowSpoolerIsRelayedWhole();
    void jobInTinyPieces();
    void connectionsArriveTogether();
};

void TestSpoolerFaults::connectionNeverCloses_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("connects, sends nothing, never closes") << 0;
    QTest::newRow("sends 4 KiB, never closes") << 4096;
}

// A job that never ends is not sent half-way, nor recorded: the receiver gives up after the limit of
// silence and resets the connection, so the spooler knows the job was not taken and keeps it.
void TestSpoolerFaults::connectionNeverCloses()
{
    QFETCH(int, size);
    LogCapture log;
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    PortWatch watch(Rig::serverFor(window, card), card);
    DialogWatcher dialogs;

    const SentJob job { QString(), Rig::jobBytes(QStringLiteral("never closes"), size) };
    std::unique_ptr<QTcpSocket> spooler = connectToPrinter();
    QVERIFY(spooler);
    QSignalSpy closed(spooler.get(), &QTcpSocket::disconnected);
    spooler->write(job.bytes);
    QVERIFY(job.bytes.isEmpty() || spooler->waitForBytesWritten(5000));

    QVERIFY(closed.count() > 0 || closed.wait(TestTiming::scaled(15000)));
    // The receiver resets the connection first and says so after.
    QTRY_COMPARE(log.linesContaining(QStringLiteral("93_PrinterThread")).size(), 1);
    QVERIFY(log.linesContaining(QStringLiteral("93_PrinterThread")).first().contains(QString::number(size)));
    QVERIFY(m_sim.jobs().isEmpty());
    QVERIFY(Rig::records(QLatin1String(kSerial)).isEmpty());
    QVERIFY(dialogs.messages().isEmpty());
    QCOMPARE(watch.receiversStarted(), 0);

    // Not the program's job: nothing was sent or kept, so the account has nothing to hold.
    Figures::Row row;
    row.tried = QString::fromLatin1(QTest::currentDataTag());
    row.outcome = QStringLiteral("connection reset after %1 ms of silence, nothing posted or recorded; "
                                 "the spooler keeps the job")
                      .arg(kReceiveLimitMs);
    finishCase(watch, row, 0);
}

// An application that renders slowly: the spooler sends a few hundred bytes a second for a minute.
// Silence counts, not the job's whole time, so the job is relayed whole at the program's own limit.
void TestSpoolerFaults::slowSpoolerIsRelayedWhole()
{
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    PortWatch watch(Rig::serverFor(window, card), card);
    useOwnReceiveLimit();

    const SentJob job { QString(), Rig::jobBytes(QStringLiteral("slow spooler"), 12000) };
    std::unique_ptr<QTcpSocket> spooler = connectToPrinter();
    QVERIFY(spooler);
    QElapsedTimer sending;
    sending.start();
    Trickle trickle(spooler.get(), job.bytes, 500, [](int) { return 100; });
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(120000));
    ProgramWaits::setForTesting(Rig::suiteWaits());
    QVERIFY(sending.elapsed() >= 55000);
    const QStringList record = Rig::records(QLatin1String(kSerial)).first();
    QCOMPARE(recordResult(record), QStringLiteral("打印成功"));
    QCOMPARE(recordSize(record), QString::number(job.bytes.size()));
    QCOMPARE(Rig::serviceJobData(m_sim), QList<QByteArray> { job.bytes });

    Figures::Row row = Rig::accountCase(m_sim, { job }, QLatin1String(kSerial));
    row.tried = QStringLiteral("sends 200 bytes a second for %1 s").arg(sending.elapsed() / 1000);
    row.outcome = QStringLiteral("relayed whole, 打印成功");
    finishCase(watch, row, 1);
}

// An empty job is still a job: it is posted with no data and recorded with size 0.
void TestSpoolerFaults::closesHavingSentNothing()
{
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    PortWatch watch(Rig::serverFor(window, card), card);

    std::unique_ptr<QTcpSocket> spooler = connectToPrinter();
    QVERIFY(spooler);
    SpoolerFixture::endJob(spooler.get());
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(15000));
    const QStringList record = Rig::records(QLatin1String(kSerial)).first();
    QCOMPARE(record.size(), 4);
    QCOMPARE(record.at(0), QString());
    QCOMPARE(recordResult(record), QStringLiteral("打印成功"));
    QCOMPARE(recordSize(record), QStringLiteral("0"));
    const QList<QByteArray> received = Rig::serviceJobData(m_sim);
    QCOMPARE(received.size(), 1);
    QVERIFY(received.first().isEmpty());

    Figures::Row row
        = accountJobs({ { QString(), QByteArray() } }, received, Rig::records(QLatin1String(kSerial)));
    row.tried = QStringLiteral("connects and closes having sent nothing");
    row.outcome = QStringLiteral("posted empty, 打印成功, size 0");
    finishCase(watch, row, 1);
}

// Bytes that come a few at a time are one job, in order.
void TestSpoolerFaults::jobInTinyPieces()
{
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    PortWatch watch(Rig::serverFor(window, card), card);

    // Crumbs take a while; the receiver waits for the end of the job as long as the program does.
    useOwnReceiveLimit();
    const SentJob job { QString(), Rig::jobBytes(QStringLiteral("tiny pieces"), 3001) };
    std::unique_ptr<QTcpSocket> spooler = connectToPrinter();
    QVERIFY(spooler);
    Trickle trickle(spooler.get(), job.bytes, 1, [](int piece) { return 1 + piece % 5; });
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(30000));
    ProgramWaits::setForTesting(Rig::suiteWaits());
    QVERIFY(trickle.pieces() >= 1000);
    const QStringList record = Rig::records(QLatin1String(kSerial)).first();
    QCOMPARE(recordResult(record), QStringLiteral("打印成功"));
    QCOMPARE(recordSize(record), QString::number(job.bytes.size()));
    QCOMPARE(Rig::serviceJobData(m_sim), QList<QByteArray> { job.bytes });

    Figures::Row row = Rig::accountCase(m_sim, { job }, QLatin1String(kSerial));
    row.tried = QStringLiteral("sends a job in %1 pieces of 1 to 5 bytes").arg(trickle.pieces());
    row.outcome = QStringLiteral("one job, bytes in order, 打印成功");
    finishCase(watch, row, 1);
}

// Connections that arrive together are each taken at once, and posted one at a time in the order
// they came.
void TestSpoolerFaults::connectionsArriveTogether()
{
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    PortWatch watch(Rig::serverFor(window, card), card);

    const int count = 6;
    QList<SentJob> sent;
    std::vector<std::unique_ptr<QTcpSocket>> spoolers;
    for (int i = 0; i < count; ++i) {
        // Sizes differ, so that the records, which carry no description here, tell the jobs apart.
        sent.append({ QString(), Rig::jobBytes(QStringLiteral("together %1").arg(i), 1000 + 37 * i) });
        spoolers.push_back(connectToPrinter());
        QVERIFY(spoolers.back());
        spoolers.back()->write(sent.last().bytes);
        QVERIFY(spoolers.back()->waitForBytesWritten(5000));
        SpoolerFixture::endJob(spoolers.back().get());
    }
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), count, TestTiming::scaled(60000));
    const QList<QStringList> records = Rig::records(QLatin1String(kSerial));
    const QList<QByteArray> received = Rig::serviceJobData(m_sim);
    QCOMPARE(received.size(), count);
    for (int i = 0; i < count; ++i) {
        QVERIFY2(received.at(i) == sent.at(i).bytes, qPrintable(QStringLiteral("job %1").arg(i)));
        QCOMPARE(recordSize(records.at(i)), QString::number(sent.at(i).bytes.size()));
        QCOMPARE(recordResult(records.at(i)), QStringLiteral("打印成功"));
    }
    QCOMPARE(watch.receiversStarted(), count);

    Figures::Row row = accountJobs(sent, received, records);
    row.tried = QStringLiteral("%1 connections at once").arg(count);
    row.outcome = QStringLiteral("served one at a time in arrival order, each 打印成功");
    finishCase(watch, row, count);
}

QTEST_MAIN(TestSpoolerFaults)
#include "tst_spoolerfaults.moc"
