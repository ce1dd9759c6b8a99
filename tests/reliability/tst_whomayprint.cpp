#include "cloudsimprocess.h"
#include "cprinter.h"
#include "driveritem.h"
#include "figures.h"
#include "jobaccount.h"
#include "logcapture.h"
#include "outboxjournal.h"
#include "programfolder.h"
#include "programstate.h"
#include "reliabilityrig.h"
#include "spoolerfixture.h"
#include "strangerprocess.h"
#include "testtiming.h"
#include "tolmainwindow.h"
#include "winsim/winsimcontrol.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTcpServer>
#include <QTest>

#include <memory>

// Who may print through a cloud printer's port, against the assembled program: only the spooler.
// Other local programs (another user's among them, and a web page through the browser) are refused,
// a flood of idle connections does not starve the printer, a program squatting on the port at
// start-up gets none of the user's jobs, and printer data that is no serial gets no card.
namespace {

const char kPrinter[] = "Reception";
const char kSerial[] = "2B3C4D5E6F708192";
const int kIndex = Rig::kFirstIndex + 10;
const quint16 kPort = Rig::portOfIndex(kIndex);

bool printerPaused(const QString &printer)
{
    SpoolerBuffer record;
    if (!CPrinter().GetCloudPrinterInfo(printer, record))
        return false;
    return record.as<PRINTER_INFO_2W>()->Status & PRINTER_STATUS_PAUSED;
}

int queuedJobs(const QString &printer)
{
    SpoolerBuffer record;
    if (!CPrinter().GetCloudPrinterInfo(printer, record))
        return -1;
    return int(record.as<PRINTER_INFO_2W>()->cJobs);
}

} // namespace

class TestWhoMayPrint : public QObject
{
    Q_OBJECT

private:
    CloudSimProcess m_sim;
    Figures m_figures;

    // The spooler's job after whatever the case did: it prints once, and the account holds only it.
    void spoolerJobPrints(const QString &tried, const QString &outcome)
    {
        const SentJob job { QStringLiteral("after.txt"), Rig::jobBytes(tried, 800) };
        Rig::jobGoesThrough(m_sim, QLatin1String(kPrinter), QLatin1String(kSerial), job, 0);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(Rig::waitForJobObjectsGone(), QString());
        Figures::Row row = Rig::accountCase(m_sim, { job }, QLatin1String(kSerial));
        row.tried = tried;
        row.outcome = outcome;
        closeAccount(m_figures, row);
    }

private slots:
    void initTestCase() { QVERIFY(Rig::startSuite(m_sim)); }

    void init()
    {
        QVERIFY(Rig::freshCase(m_sim));
        QVERIFY(Rig::addUnusedPrinter(QLatin1String(kPrinter), kIndex, QLatin1String(kSerial)));
    }

    void cleanupTestCase()
    {
        QVERIFY(Rig::endSuite(m_figures, QStringLiteral("25-whomayprint"), QStringLiteral("Who may print")));
    }

    void strangersCannotPrint_data();
    void strangersCannotPrint();
    void idleFloodDoesNotStarveThePrinter();
    void squatterAtStartUpGetsNoJob();
    void pausesAreTakenBackOnlyWhenOurs();
    void malformedCloudIdGetsNoCard();
};

void TestWhoMayPrint::strangersCannotPrint_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("another program sends bytes") << QStringLiteral("bytes");
    QTest::newRow("another user's program sends bytes") << QStringLiteral("other user");
    QTest::newRow("a web page posts through the browser") << QStringLiteral("http");
}

void TestWhoMayPrint::strangersCannotPrint()
{
    QFETCH(QString, how);
    LogCapture log;
    TolMainWindow window;
    QVERIFY(Rig::cards(window).value(0));

    StrangerProcess stranger;
    if (how == QLatin1String("http")) {
        QVERIFY2(stranger.postLikeABrowser(kPort, "%!PS a page a web page wants printed"),
            qPrintable(stranger.error()));
        QVERIFY(!stranger.answered());
    } else {
        if (how == QLatin1String("other user")) {
            if (!StrangerProcess::canRunAsOtherUser())
                QSKIP("running a process as another user needs root");
            stranger.setOtherUser(true);
        }
        QVERIFY2(stranger.send(kPort, Rig::jobBytes(QStringLiteral("stranger's job"), 2000)),
            qPrintable(stranger.error()));
    }
    const qint64 peer = stranger.processId();
    QTRY_COMPARE(log.count(QStringLiteral("refused 1 connection(s) from process %1 (").arg(peer)), 1);
    QVERIFY(m_sim.jobs().isEmpty());
    QVERIFY(Rig::records(QLatin1String(kSerial)).isEmpty());

    spoolerJobPrints(QString::fromLatin1(QTest::currentDataTag()),
        QStringLiteral("reset unread, logged with its process; nothing posted or recorded; the spooler's "
                       "next job printed once"));
}

// Two thousand idle connections from one local program, then the user prints.
void TestWhoMayPrint::idleFloodDoesNotStarveThePrinter()
{
    LogCapture log;
    TolMainWindow window;
    QVERIFY(Rig::cards(window).value(0));
    StrangerProcess flood;
    QVERIFY2(flood.holdIdleConnections(kPort, 2000), qPrintable(flood.error()));

    QVERIFY(m_sim.reset());
    const SentJob job { QStringLiteral("behind the flood.txt"), Rig::jobBytes(QStringLiteral("flood"), 800) };
    QElapsedTimer submitted;
    submitted.start();
    QVERIFY(SpoolerFixture::printJob(QLatin1String(kPrinter), job.document, job.bytes));
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(20000));
    const qint64 printedMs = submitted.elapsed();
    QCOMPARE(recordResult(Rig::records(QLatin1String(kSerial)).first()), QStringLiteral("打印成功"));
    QCOMPARE(Rig::serviceJobData(m_sim), QList<QByteArray> { job.bytes });
    flood.stop();
    QCOMPARE(Rig::waitForJobObjectsGone(), QString());

    Figures::Row row = Rig::accountCase(m_sim, { job }, QLatin1String(kSerial));
    row.tried = QStringLiteral("2000 idle connections from another program, then a job");
    row.outcome = QStringLiteral("every one reset unread; the job printed %1 ms after it was submitted")
                      .arg(printedMs);
    closeAccount(m_figures, row);
    m_figures.note(
        QStringLiteral("A job printed behind 2000 idle connections of another program: %1 ms from its "
                       "submission to its record.")
            .arg(printedMs));
}

// A program holds the printer's port before ours starts. The printer is paused, so the spooler keeps
// the user's job instead of handing it to the squatter; once the port is free, the job prints.
void TestWhoMayPrint::squatterAtStartUpGetsNoJob()
{
    auto squatter = std::make_unique<QTcpServer>();
    QVERIFY(squatter->listen(QHostAddress::LocalHost, kPort));
    LogCapture log;
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    QCOMPARE(card->form().stateEdit->text(), QStringLiteral("端口被占用"));
    QVERIFY(printerPaused(QLatin1String(kPrinter)));
    QCOMPARE(log.count(QStringLiteral("tray message:")), 1);
    // The device's state, when it comes, does not hide that the printer cannot print.
    QTest::qWait(500);
    QCOMPARE(card->form().stateEdit->text(), QStringLiteral("端口被占用"));

    QVERIFY(m_sim.reset());
    const SentJob job { QStringLiteral("held.txt"),
        Rig::jobBytes(QStringLiteral("held while squatted"), 900) };
    QVERIFY(SpoolerFixture::printJob(QLatin1String(kPrinter), job.document, job.bytes));
    // A spooler that sent the job would have reached the squatter by now.
    QVERIFY(!squatter->waitForNewConnection(2000));
    QCOMPARE(queuedJobs(QLatin1String(kPrinter)), 1);

    QElapsedTimer freed;
    squatter.reset();
    freed.start();
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(20000));
    const qint64 printedMs = freed.elapsed();
    QCOMPARE(Rig::serviceJobData(m_sim), QList<QByteArray> { job.bytes });
    QVERIFY(!printerPaused(QLatin1String(kPrinter)));
    QVERIFY(!OutboxJournal::instance()->isPrinterHeld(QLatin1String(kPrinter)));
    QVERIFY(card->form().stateEdit->text() != QStringLiteral("端口被占用"));
    QCOMPARE(log.count(QStringLiteral("tray message:")), 1);
    QCOMPARE(Rig::waitForJobObjectsGone(), QString());

    Figures::Row row = Rig::accountCase(m_sim, { job }, QLatin1String(kSerial));
    row.tried = QStringLiteral("another program holds the port at start-up; the user prints");
    row.outcome
        = QStringLiteral("printer paused, \"端口被占用\", the squatter got nothing; printed %1 ms after "
                         "the port was free")
              .arg(printedMs);
    closeAccount(m_figures, row);
    m_figures.note(
        QStringLiteral("A job held while another program squatted on the port printed %1 ms after the port "
                       "was free (retry every 5 s).")
            .arg(printedMs));
}

// A pause the program made and could not take back (it died meanwhile) is taken back at the next
// start; a pause the user made stays, squatter or not.
void TestWhoMayPrint::pausesAreTakenBackOnlyWhenOurs()
{
    const QString printer = QLatin1String(kPrinter);
    QVERIFY(CPrinter().SetPrinterPaused(printer, true));
    QVERIFY(OutboxJournal::instance()->setPrinterHeld(printer, true));
    {
        TolMainWindow window;
        QVERIFY(!printerPaused(printer));
        QVERIFY(!OutboxJournal::instance()->isPrinterHeld(printer));
    }

    QVERIFY(CPrinter().SetPrinterPaused(printer, true));
    auto squatter = std::make_unique<QTcpServer>();
    QVERIFY(squatter->listen(QHostAddress::LocalHost, kPort));
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    QCOMPARE(card->form().stateEdit->text(), QStringLiteral("端口被占用"));
    QVERIFY(!OutboxJournal::instance()->isPrinterHeld(printer));
    squatter.reset();
    QTRY_VERIFY_WITH_TIMEOUT(
        card->form().stateEdit->text() != QStringLiteral("端口被占用"), TestTiming::scaled(15000));
    QVERIFY(printerPaused(printer));
    QVERIFY(CPrinter().SetPrinterPaused(printer, false));
}

// Printer data any user with rights on the printer can write: a CloudId that climbs out of the
// detail folder is no serial, and its printer gets no card, no listener and no file.
void TestWhoMayPrint::malformedCloudIdGetsNoCard()
{
    const QString outside = QStringLiteral("../../x");
    QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("Climber"), kIndex + 1, outside));
    QDir above(ProgramFolder::path());
    QVERIFY(above.cdUp());
    const QStringList before = above.entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    LogCapture log;
    TolMainWindow window;
    QStringList names;
    for (DriverItem *card : Rig::cards(window))
        names << card->driverInfo().printer_name;
    QCOMPARE(names, QStringList { QLatin1String(kPrinter) });
    QCOMPARE(
        log.count(QStringLiteral("printer Climber skipped: its CloudId is no cloud serial: ../../x")), 1);
    QVERIFY(!ProgramState::acceptsConnections(Rig::portOfIndex(kIndex + 1)));
    QVERIFY(SpoolerFixture::printJob(QStringLiteral("Climber"), QStringLiteral("out.txt"), "nowhere"));
    QTest::qWait(500);
    QCOMPARE(above.entryList(QDir::AllEntries | QDir::NoDotAndDotDot), before);
    QVERIFY(m_sim.jobs().isEmpty());

    spoolerJobPrints(QStringLiteral("a printer's CloudId reads \"../../x\""),
        QStringLiteral("no card, no listener, nothing written outside details/; the valid printer prints"));
}

QTEST_MAIN(TestWhoMayPrint)
#include "tst_whomayprint.moc"
