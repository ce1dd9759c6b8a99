#include "cloudsimprocess.h"
#include "driveritem.h"
#include "figures.h"
#include "jobaccount.h"
#include "liveobjects.h"
#include "portwatch.h"
#include "printerserver.h"
#include "reliabilityrig.h"
#include "spoolerfixture.h"
#include "testtiming.h"
#include "tolmainwindow.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include <memory>

// Many jobs through the assembled program at once: a burst to one printer, then twenty printers
// printing together. Every job must reach the service exactly once with its own bytes, in the
// order its printer sent it, and have exactly one record; nothing may be left behind.
//
// The listener's retry and the card's result poll tick once a second in the program; here they
// tick every few milliseconds, so that a thousand jobs take a minute rather than half an hour. What
// happens on each tick is the program's own; only the pace differs.
namespace {

const int kTickMs = 20;

QString serialOf(int printer)
{
    return QStringLiteral("5EED00000000%1").arg(printer, 4, 16, QLatin1Char('0')).toUpper();
}

// The kinds of object there are more of than before, for the message of a failed leak check.
QString grownKinds(const QMap<QByteArray, int> &before)
{
    QStringList grown;
    const QMap<QByteArray, int> now = LiveObjects::census();
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (it.value() > before.value(it.key()))
            grown << QStringLiteral("%1 %2 -> %3")
                         .arg(QString::fromLatin1(it.key()))
                         .arg(before.value(it.key()))
                         .arg(it.value());
    }
    return grown.join(QStringLiteral(", "));
}

QString printerOf(int printer)
{
    return QStringLiteral("Load%1").arg(printer, 2, 10, QLatin1Char('0'));
}

} // namespace

class TestLoad : public QObject
{
    Q_OBJECT

private:
    LiveObjects m_live;
    CloudSimProcess m_sim;
    Figures m_figures;

    void runLoad(const QString &tried, int printers, int jobsPerPrinter);

private slots:
    void initTestCase() { QVERIFY(Rig::startSuite(m_sim)); }
    void init() { QVERIFY(Rig::freshCase(m_sim)); }

    void cleanupTestCase()
    {
        QVERIFY(Rig::endSuite(m_figures, QStringLiteral("30-load"), QStringLiteral("Load")));
    }

    void burstToOnePrinter() { runLoad(QStringLiteral("a burst of 200 jobs to one printer"), 1, 200); }
    void twentyPrintersAtOnce()
    {
        runLoad(QStringLiteral("20 printers printing at once, 40 jobs each"), 20, 40);
    }
};

void TestLoad::runLoad(const QString &tried, int printers, int jobsPerPrinter)
{
    for (int p = 1; p <= printers; ++p)
        QVERIFY(Rig::addUnusedPrinter(printerOf(p), Rig::kFirstIndex - 1 + p, serialOf(p)));
    TolMainWindow window;
    const QList<DriverItem *> cards = Rig::cards(window);
    QCOMPARE(cards.size(), printers);
    std::vector<std::unique_ptr<PortWatch>> watches;
    for (DriverItem *card : cards) {
        PrinterServer *server = Rig::serverFor(window, card);
        QVERIFY(server);
        watches.push_back(std::make_unique<PortWatch>(server, card));
        card->stateTimer()->setInterval(kTickMs);
        for (QTimer *timer : server->findChildren<QTimer *>())
            timer->setInterval(kTickMs);
    }
    // The cards' first device-state exchanges are over before the count of objects starts.
    for (DriverItem *card : cards)
        QTRY_VERIFY(!card->form().stateEdit->text().isEmpty());
    QCOMPARE(Rig::waitForJobObjectsGone(), QString());
    const int objectsBefore = LiveObjects::total();
    const QMap<QByteArray, int> censusBefore = LiveObjects::census();

    // Each printer's jobs differ in size and content; they are submitted in turns across printers,
    // as applications printing side by side would.
    QHash<QString, QList<SentJob>> sent;
    QElapsedTimer clock;
    clock.start();
    for (int j = 0; j < jobsPerPrinter; ++j) {
        for (int p = 1; p <= printers; ++p) {
            const QString document = QStringLiteral("p%1-job%2.prn").arg(p).arg(j, 3, 10, QLatin1Char('0'));
            const SentJob job { document, Rig::jobBytes(document, 200 + (j * 977 + p * 131) % 12000) };
            sent[serialOf(p)].append(job);
            QVERIFY(SpoolerFixture::printJob(printerOf(p), document, job.bytes));
        }
    }
    const auto recordCount = [&] {
        int n = 0;
        for (int p = 1; p <= printers; ++p)
            n += Rig::records(serialOf(p)).size();
        return n;
    };
    const int total = printers * jobsPerPrinter;
    QTRY_COMPARE_WITH_TIMEOUT(recordCount(), total, TestTiming::scaled(600000));
    const qint64 elapsedMs = clock.elapsed();
    for (const auto &watch : watches)
        QVERIFY(Rig::waitForPortFree(*watch));
    // Before the suite itself asks the service anything: its own requests leave timers behind.
    QCOMPARE(Rig::waitForJobObjectsGone(30000), QString());
    // Anything a job leaves behind, of whatever kind, would show here a thousandfold; the slack is
    // for what the network layer sets up once per process and keeps.
    QVERIFY2(LiveObjects::total() <= objectsBefore + 50, qPrintable(grownKinds(censusBefore)));

    // What the service holds, per printer in the order it came.
    QHash<QString, QList<QByteArray>> received;
    const QJsonArray jobs = m_sim.jobs();
    QCOMPARE(jobs.size(), total);
    for (const QJsonValue &value : jobs) {
        const QJsonObject job = value.toObject();
        received[job.value(QStringLiteral("serial")).toString()].append(
            m_sim.jobData(job.value(QStringLiteral("jobId")).toString()));
    }

    Figures::Row row;
    row.tried = tried;
    for (int p = 1; p <= printers; ++p) {
        const QString serial = serialOf(p);
        const QList<SentJob> &mine = sent.value(serial);
        const QList<QByteArray> &theirs = received.value(serial);
        const QList<QStringList> records = Rig::records(serial);
        QCOMPARE(theirs.size(), mine.size());
        QCOMPARE(records.size(), mine.size());
        for (int j = 0; j < mine.size(); ++j) {
            QVERIFY2(
                theirs.at(j) == mine.at(j).bytes, qPrintable(QStringLiteral("%1 job %2").arg(serial).arg(j)));
            QCOMPARE(recordDocument(records.at(j)), mine.at(j).document);
            QCOMPARE(recordResult(records.at(j)), QStringLiteral("打印成功"));
            QCOMPARE(recordSize(records.at(j)), QString::number(mine.at(j).bytes.size()));
        }
        const Figures::Row part = accountJobs(mine, theirs, records);
        row.sent += part.sent;
        row.delivered += part.delivered;
        row.recorded += part.recorded;
        row.duplicated += part.duplicated;
        row.lost += part.lost;
        row.unrecorded += part.unrecorded;
    }
    qint64 holdBack = 0;
    for (const auto &watch : watches) {
        QCOMPARE(watch->receiversStarted(), jobsPerPrinter);
        QCOMPARE(watch->jobsEnded(), jobsPerPrinter);
        row.busyAfterOutcomeMs = qMax(row.busyAfterOutcomeMs, watch->longestBusyAfterOutcomeMs());
        holdBack = qMax(holdBack, watch->longestHoldBackMs());
    }
    row.outcome = QStringLiteral("all 打印成功, each in order, in %1 s (%2 jobs/s)")
                      .arg(double(elapsedMs) / 1000.0, 0, 'f', 1)
                      .arg(total * 1000.0 / double(qMax<qint64>(elapsedMs, 1)), 0, 'f', 1);
    m_figures.note(QStringLiteral("%1: next waiting job taken at most %2 ms after its port was free "
                                  "(listener retry at %3 ms)")
                       .arg(tried)
                       .arg(holdBack)
                       .arg(kTickMs));
    closeAccount(m_figures, row);
}

QTEST_MAIN(TestLoad)
#include "tst_load.moc"
