#include "cloudsimprocess.h"
#include "cprinter.h"
#include "detailfile.h"
#include "dialogwatcher.h"
#include "driveritem.h"
#include "figures.h"
#include "jobaccount.h"
#include "jobtablemodel.h"
#include "liveobjects.h"
#include "logcapture.h"
#include "logging.h"
#include "portwatch.h"
#include "printerrecordstore.h"
#include "printerserver.h"
#include "programfolder.h"
#include "programstate.h"
#include "reliabilityrig.h"
#include "settingsdlg.h"
#include "spoolerfixture.h"
#include "testprinters.h"
#include "testtiming.h"
#include "tolmainwindow.h"
#include "winsim/winsimcontrol.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

// The machine failing the program: task.db unwritable, locked or no database at all, the program's
// folders missing, the port library missing or hollow, and every spooler call the program makes
// failing in turn. The program must carry on where it can, tell the user what its messages say,
// log the failure, leave nothing half-told in its records and keep no handle open.
namespace {

const char kSerial[] = "2A3B4C5D6E7F8091";
const char kNewSerial[] = "00112233AABBCCDD";
// The printer the cases start from; a printer added from the form takes index 1, port 8101.
const quint16 kFrontPort = Rig::portOfIndex(Rig::kFirstIndex);
// What a spooler gone away answers (RPC_S_SERVER_UNAVAILABLE); distinct enough to find in the log.
const uint32_t kFailure = 1722;

// Whether one of the window's listeners listens on the port.
bool listening(TolMainWindow &window, quint16 port)
{
    for (PrinterServer *server : window.findChildren<PrinterServer *>()) {
        if (server->isListening() && server->serverPort() == port)
            return true;
    }
    return false;
}

void fillForm(TolMainWindow &window, const QString &serial, const QString &name)
{
    window.findChild<QLineEdit *>(QStringLiteral("lineEdit_num"))->setText(serial);
    window.findChild<QLineEdit *>(QStringLiteral("lineEdit_name"))->setText(name);
}

void pressAdd(TolMainWindow &window)
{
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_ok")), Qt::LeftButton);
}

// Whether the log tells of the failure: the injected error, the port library's verdict on it, or
// the program's own line for the step that failed (some name the step but not the code: the
// printer-data lines give the thread's last error, which a failed read does not set).
bool logNamesFailure(const LogCapture &log)
{
    return !log.linesContaining(QString::number(kFailure)).isEmpty()
        || !log.linesContaining(QStringLiteral("= 2")).isEmpty() || !log.lines(QtCriticalMsg).isEmpty()
        || !log.linesContaining(QStringLiteral("failed")).isEmpty();
}

// Sets a file's immutable attribute, which even an administrator's writes respect.
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

bool writable(const QString &path)
{
    return ::access(QFile::encodeName(path).constData(), W_OK) == 0;
}

} // namespace

class TestHostFaults : public QObject
{
    Q_OBJECT

private:
    LiveObjects m_live;
    CloudSimProcess m_sim;
    Figures m_figures;
    QStringList m_sweepLines;

    // One cloud printer, known to the spooler and to task.db, as a running installation has it.
    void installedPrinter()
    {
        QVERIFY(!QFile::exists(QStringLiteral("task.db")) || QFile::remove(QStringLiteral("task.db")));
        QVERIFY(SpoolerFixture::freshMachineWithDriver());
        QVERIFY(SpoolerFixture::addCloudPrinter(
            QStringLiteral("Front"), Rig::kFirstIndex, QLatin1String(kSerial)));
        DriverInfo info;
        info.printer_name = QStringLiteral("Front");
        info.cloud_sn = QLatin1String(kSerial);
        info.port_name = QStringLiteral("REDadez901");
        info.port_num = kFrontPort;
        info.driver_name = TestPrinters::driverName();
        info.ip = QStringLiteral("127.0.0.1");
        QVERIFY(insertPrinterRecord(info));
    }

    // A job printed from an application reaches the service and is recorded, whatever else failed.
    void jobGoesThrough(TolMainWindow &window, const QString &document)
    {
        DriverItem *card = Rig::cards(window).value(0);
        QVERIFY(card);
        const SentJob job { document, Rig::jobBytes(document, 1500) };
        Rig::jobGoesThrough(m_sim, QStringLiteral("Front"), QLatin1String(kSerial), job,
            Rig::records(QLatin1String(kSerial)).size());
    }

    // Adds "New" from the form and returns the one message the user was shown.
    QString addFromForm(TolMainWindow &window)
    {
        fillForm(window, QLatin1String(kNewSerial), QStringLiteral("New"));
        DialogWatcher dialogs(QStringLiteral("确定"));
        pressAdd(window);
        if (!QTest::qWaitFor([&] { return !dialogs.messages().isEmpty(); }, 60000))
            return QStringLiteral("(no message)");
        // The window's work after the success message (card, listener, record) follows it at once.
        QCoreApplication::processEvents();
        return dialogs.messages().join(QLatin1Char('|'));
    }

    // A case's row; jobs counts the jobs it printed, all of which reached the service once.
    void addRow(const QString &tried, const QString &outcome, int jobs, bool recorded = true)
    {
        Figures::Row row;
        row.tried = tried;
        row.outcome = outcome;
        row.sent = row.delivered = jobs;
        row.recorded = recorded ? jobs : 0;
        Rig::addRow(m_figures, row);
    }

    // Counts the calls a scenario makes when nothing fails, then runs it once more for every call of
    // every kind failing in turn, checking each run with the scenario's own rules. ClosePrinter is
    // left out: a handle the spooler will not close is nothing the program could act on.
    // The scenario calls inject() where the program's part begins and settled() where it ends, before
    // the scenario's own checks, which make spooler calls of their own.
    struct Probe
    {
        std::function<void()> inject;
        std::function<void()> settled;
    };
    using Scenario = std::function<void(const Probe &probe, QString *outcome)>;
    void sweep(const QString &name, const QStringList &calls, const Scenario &scenario);

private slots:
    void initTestCase() { QVERIFY(Rig::startSuite(m_sim)); }

    void init()
    {
        QVERIFY(m_sim.reset());
        // A run that died half-way may have left the file immutable.
        setImmutable(QStringLiteral("task.db"), false);
        QFile::remove(QStringLiteral("task.db"));
        QFile::remove(detailFilePath(QLatin1String(kSerial)));
        QFile::remove(detailFilePath(QLatin1String(kNewSerial)));
        installedPrinter();
    }

    void cleanup()
    {
        setImmutable(QStringLiteral("task.db"), false);
        QFile::setPermissions(QStringLiteral("task.db"), QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(ProgramFolder::install());
        QVERIFY(ProgramFolder::placePortLibrary());
    }

    void cleanupTestCase()
    {
        Rig::endSuite();
        m_figures.note(QStringLiteral(
            "Spooler calls failing in turn (error %1), one run per call the scenario makes: %2")
                           .arg(kFailure)
                           .arg(m_sweepLines.join(QStringLiteral("; "))));
        QVERIFY(m_figures.write(
            QStringLiteral("40-hostfaults"), QStringLiteral("The machine fails the program")));
    }

    void recordStoreUnusable_data();
    void recordStoreUnusable();
    void foldersMissing();
    void portLibraryUnusable_data();
    void portLibraryUnusable();
    void spoolerFailsAtStartup();
    void spoolerFailsWhileAdding();
    void spoolerFailsWhilePrinting();
    void spoolerFailsWhileModifying();
    void spoolerFailsInHistory();
    void spoolerFailsWhileDeleting();
};

void TestHostFaults::recordStoreUnusable_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("logged");
    QTest::newRow("task.db read-only") << "read-only"
                                       << "Insert printer error";
    QTest::newRow("task.db locked by another process") << "locked"
                                                       << "Insert printer error";
    QTest::newRow("task.db is not a database") << "garbage"
                                               << "Create table driver error";
}

// The record store is the program's own list, never read back: a store that cannot be written
// costs the row, and nothing else. The printer is provisioned, listed and printing all the same,
// and what was in the file stays as it was.
void TestHostFaults::recordStoreUnusable()
{
    QFETCH(QString, how);
    QFETCH(QString, logged);
    QProcess locker;
    if (how == QLatin1String("garbage")) {
        QFile::remove(QStringLiteral("task.db"));
        QFile file(QStringLiteral("task.db"));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(4096, '\x5a'));
        file.close();
    } else if (how == QLatin1String("read-only")) {
        QVERIFY(QFile::setPermissions(QStringLiteral("task.db"), QFile::ReadOwner | QFile::ReadGroup));
        // An administrator writes to a read-only file all the same; the immutable attribute stops him.
        if (writable(QStringLiteral("task.db")) && !setImmutable(QStringLiteral("task.db"), true))
            QSKIP("this file system cannot make task.db read-only for this user");
        QVERIFY(!writable(QStringLiteral("task.db")));
    } else {
        locker.start(QStringLiteral(DBLOCKER_PATH), { QStringLiteral("task.db") });
        QVERIFY(locker.waitForReadyRead(10000));
        QCOMPARE(locker.readLine().trimmed(), QByteArray("locked"));
    }
    QFile db(QStringLiteral("task.db"));
    QVERIFY(db.open(QIODevice::ReadOnly));
    const QByteArray before = db.readAll();
    db.close();

    LogCapture log;
    TolMainWindow window;
    QCOMPARE(Rig::cards(window).size(), 1);
    QCOMPARE(addFromForm(window), QStringLiteral("添加成功"));
    QVERIFY2(!log.linesContaining(logged).isEmpty(), qPrintable(logged));
    // Provisioned and listed; the new card is at the top and its listener takes jobs.
    QCOMPARE(Rig::cards(window).size(), 2);
    QCOMPARE(Rig::cards(window).first()->driverInfo().printer_name, QStringLiteral("New"));
    QCOMPARE(SpoolerFixture::cloudSerial(QStringLiteral("New")), QLatin1String(kNewSerial));
    QTRY_VERIFY_WITH_TIMEOUT(listening(window, 8101), TestTiming::scaled(15000));
    jobGoesThrough(window, QStringLiteral("store.txt"));

    // Removing the new printer works too; the store's failure to forget it is only logged.
    DialogWatcher dialogs(QStringLiteral("确定"));
    Rig::cards(window).first()->onDeleteClicked();
    QTRY_COMPARE_WITH_TIMEOUT(Rig::cards(window).size(), 1, TestTiming::scaled(20000));
    QVERIFY(!Rig::spoolerPrinters().contains(QStringLiteral("New")));
    QCOMPARE(dialogs.messages(), QStringList { QStringLiteral("确定删除打印机 New？") });

    if (locker.state() != QProcess::NotRunning) {
        locker.closeWriteChannel();
        QVERIFY(locker.waitForFinished(10000));
    }
    QVERIFY(db.open(QIODevice::ReadOnly));
    QVERIFY2(db.readAll() == before, "task.db changed");
    db.close();
    if (how != QLatin1String("garbage"))
        QCOMPARE(ProgramState::storedRows(),
            QStringList { QStringLiteral("Front|%1|9001").arg(QLatin1String(kSerial)) });
    Rig::nothingLeftBehind();
    addRow(QString::fromLatin1(QTest::currentDataTag()),
        QStringLiteral("printer added, listed and printing; row not stored, logged \"%1\"; file unchanged")
            .arg(logged),
        1);
}

// Without logs/ and details/ the program runs and relays as ever; it writes neither, and creates
// neither folder (the installation provides them).
void TestHostFaults::foldersMissing()
{
    const QDir program(ProgramFolder::path());
    QVERIFY(QDir(program.filePath(QStringLiteral("logs"))).removeRecursively());
    QVERIFY(QDir(program.filePath(QStringLiteral("details"))).removeRecursively());
    const QtMessageHandler previous = qInstallMessageHandler(logMessageHandler);
    {
        TolMainWindow window;
        DriverItem *card = Rig::cards(window).value(0);
        QVERIFY(card);
        PortWatch watch(Rig::serverFor(window, card), card);
        const QByteArray bytes = Rig::jobBytes(QStringLiteral("no folders"), 2500);
        QVERIFY(SpoolerFixture::printJob(QStringLiteral("Front"), QStringLiteral("nofolders.txt"), bytes));
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.jobs().size(), 1, TestTiming::scaled(20000));
        QTRY_COMPARE_WITH_TIMEOUT(watch.jobsEnded(), 1, TestTiming::scaled(20000));
        QVERIFY(!watch.isBusy());
        QVERIFY(Rig::serviceJobData(m_sim).value(0) == bytes);
        // The card still answers for its history: empty, since nothing could be kept.
        SettingsDlg history(QStringLiteral("Front"), QLatin1String(kSerial));
        QCOMPARE(history.model()->rowCount(), 0);
    }
    qInstallMessageHandler(previous);
    QVERIFY(!program.exists(QStringLiteral("logs")));
    QVERIFY(!program.exists(QStringLiteral("details")));
    Rig::nothingLeftBehind();
    addRow(QStringLiteral("logs/ and details/ missing"),
        QStringLiteral("job sent once, port freed; no log and no record can be written (the installation "
                       "provides both folders), neither folder created"),
        1, false);
}

void TestHostFaults::portLibraryUnusable_data()
{
    QTest::addColumn<bool>("hollow");
    QTest::addColumn<QString>("addLogged");
    QTest::addColumn<QString>("listLogged");
    QTest::newRow("port library missing")
        << false << "44_CPrinter addStandardTcpPort load Quayport.dll failed"
        << "464_CPrinter GetConfigStandardTcpPort load Quayport.dll failed";
    QTest::newRow("port library lacking its exports") << true << "32_CPrinter resolve Quayport.dll failed"
                                                      << "444_CPrinter resolve Quayport.dll failed";
}

// Without a usable port library no printer can be added, and the user is told so; printers that
// exist are listed and print as before.
void TestHostFaults::portLibraryUnusable()
{
    QFETCH(bool, hollow);
    QFETCH(QString, addLogged);
    QFETCH(QString, listLogged);
    QVERIFY(ProgramFolder::removePortLibrary());
    if (hollow)
        QVERIFY(
            ProgramFolder::linkFile(QStringLiteral(HOLLOW_QUAYPORT_PATH), QStringLiteral("libQuayport.so")));

    LogCapture log;
    TolMainWindow window;
    QCOMPARE(Rig::cards(window).size(), 1);
    // The ports' configuration is asked for in the background, after the list is up.
    QTRY_COMPARE(log.lines(QtCriticalMsg).filter(listLogged).size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(listening(window, kFrontPort), TestTiming::scaled(15000));
    QCOMPARE(addFromForm(window), QStringLiteral("添加打印机失败，无法添加端口"));
    QVERIFY(!log.linesContaining(addLogged).isEmpty());
    QCOMPARE(Rig::spoolerPrinters(), QStringList { QStringLiteral("Front") });
    QCOMPARE(Rig::cards(window).size(), 1);
    QCOMPARE(ProgramState::storedRows(),
        QStringList { QStringLiteral("Front|%1|9001").arg(QLatin1String(kSerial)) });
    jobGoesThrough(window, QStringLiteral("portlib.txt"));
    Rig::nothingLeftBehind();
    addRow(QString::fromLatin1(QTest::currentDataTag()),
        QStringLiteral(
            "add refused with \"添加打印机失败，无法添加端口\"; existing printer listed and printing"),
        1);
}

void TestHostFaults::sweep(const QString &name, const QStringList &calls, const Scenario &scenario)
{
    // The calls a clean run makes between inject() and settled().
    QMap<QString, int> made;
    {
        QMap<QString, int> before;
        QString outcome;
        const auto count = [&calls](QMap<QString, int> &into) {
            for (const QString &call : calls)
                into[call] = winsim::callCount(call.toStdString());
        };
        QMap<QString, int> after;
        scenario(Probe { [&] { count(before); }, [&] { count(after); } }, &outcome);
        if (QTest::currentTestFailed())
            return;
        for (const QString &call : calls)
            made[call] = after.value(call) - before.value(call);
    }
    int runs = 0;
    QStringList failures;
    for (const QString &call : calls) {
        for (int nth = 1; nth <= made.value(call); ++nth) {
            QString outcome;
            scenario(Probe { [&] { winsim::failCall(call.toStdString(), nth, kFailure); }, [] {} }, &outcome);
            if (QTest::currentTestFailed()) {
                qWarning().noquote() << name << "failed with" << call << "call" << nth << "failing";
                return;
            }
            ++runs;
            if (outcome != QLatin1String("done"))
                failures << QStringLiteral("%1 #%2: %3").arg(call).arg(nth).arg(outcome);
        }
    }
    QVERIFY2(runs > 0, "the scenario makes none of the calls");
    m_sweepLines << QStringLiteral("%1 %2 runs").arg(name).arg(runs);
    Figures::Row row;
    row.tried = QStringLiteral("%1: each of %2 spooler calls failing (%3 runs)")
                    .arg(name)
                    .arg(calls.size())
                    .arg(runs);
    failures.removeDuplicates();
    row.outcome = QStringLiteral("%1 runs ended as when nothing fails; otherwise: %2")
                      .arg(runs - failures.size())
                      .arg(failures.isEmpty() ? QStringLiteral("none") : failures.join(QStringLiteral("; ")));
    Rig::addRow(m_figures, row);
}

// Start-up: each printer either gets its card with what could be read, or is left out with a log
// line saying why; nothing else changes.
void TestHostFaults::spoolerFailsAtStartup()
{
    const QStringList calls { QStringLiteral("EnumPrintersW"), QStringLiteral("OpenPrinterW"),
        QStringLiteral("GetPrinterDataW"), QStringLiteral("XcvDataW") };
    sweep(QStringLiteral("start-up listing"), calls, [this](const Probe &probe, QString *outcome) {
        installedPrinter();
        QVERIFY(SpoolerFixture::addCloudPrinter(
            QStringLiteral("Back"), Rig::kFirstIndex + 1, QStringLiteral("3333333333333333")));
        LogCapture log;
        probe.inject();
        {
            TolMainWindow window;
            QVERIFY(Rig::waitForBackgroundStart(window));
            probe.settled();
            QStringList listed;
            for (DriverItem *card : Rig::cards(window)) {
                const DriverInfo info = card->driverInfo();
                listed << info.printer_name;
                const bool front = info.printer_name == QLatin1String("Front");
                QVERIFY(front || info.printer_name == QLatin1String("Back"));
                QCOMPARE(info.port_num, quint16(front ? kFrontPort : kFrontPort + 1));
                QVERIFY(info.cloud_sn.isEmpty()
                    || info.cloud_sn == (front ? QLatin1String(kSerial) : QLatin1String("3333333333333333")));
                QVERIFY(Rig::serverFor(window, card));
            }
            *outcome = listed.join(QLatin1Char('+'));
            if (listed.size() < 2)
                QVERIFY2(logNamesFailure(log), qPrintable(log.lines().join(QLatin1Char('\n'))));
        }
        QCOMPARE(winsim::openHandleCount(), 0);
        if (*outcome == QLatin1String("Front+Back"))
            *outcome = QStringLiteral("done");
        else
            *outcome = QStringLiteral("listed ") + (outcome->isEmpty() ? QStringLiteral("none") : *outcome);
    });
}

// Adding: the user sees one of the add's own messages; a success leaves the printer complete in
// the spooler, in task.db and in the list, and a failure leaves no row and no card.
void TestHostFaults::spoolerFailsWhileAdding()
{
    const QStringList calls { QStringLiteral("EnumPrintersW"), QStringLiteral("EnumPortsW"),
        QStringLiteral("EnumPrinterDriversW"), QStringLiteral("OpenPrinterW"),
        QStringLiteral("GetPrinterDataW"), QStringLiteral("SetPrinterDataW"), QStringLiteral("XcvDataW"),
        QStringLiteral("RegOpenKeyExW"), QStringLiteral("RegQueryValueExW"), QStringLiteral("GetPrinterW") };
    sweep(QStringLiteral("adding a printer"), calls, [this](const Probe &probe, QString *outcome) {
        installedPrinter();
        LogCapture log;
        {
            TolMainWindow window;
            QVERIFY(Rig::waitForBackgroundStart(window));
            QVERIFY(Rig::waitForListeners(window));
            probe.inject();
            const QString message = addFromForm(window);
            probe.settled();
            QVERIFY2(Rig::addMessages().contains(message), qPrintable(message));
            const QStringList rows = ProgramState::storedRows();
            QList<DriverItem *> cards = Rig::cards(window);
            if (message == QStringLiteral("添加成功")) {
                QCOMPARE(SpoolerFixture::cloudSerial(QStringLiteral("New")), QLatin1String(kNewSerial));
                quint16 port = 0;
                QVERIFY(CPrinter().GetPrinterPortNum(QStringLiteral("New"), port));
                QVERIFY2(port != kFrontPort, "the new printer shares the port of the one that was there");
                QVERIFY(rows.contains(QStringLiteral("New|%1|%2").arg(QLatin1String(kNewSerial)).arg(port)));
                // The card comes unless the spooler could not show the new printer again; then the
                // log says so.
                if (cards.size() == 2) {
                    QCOMPARE(cards.first()->driverInfo().printer_name, QStringLiteral("New"));
                    QTRY_VERIFY_WITH_TIMEOUT(listening(window, port), TestTiming::scaled(15000));
                } else {
                    QCOMPARE(cards.size(), 1);
                    QVERIFY(logNamesFailure(log));
                }
                *outcome = cards.size() == 2 ? QStringLiteral("done")
                                             : QStringLiteral("added, no card until restart");
            } else {
                QVERIFY2(
                    rows.size() == 1, qPrintable(message + QLatin1Char(' ') + rows.join(QLatin1Char(','))));
                QCOMPARE(cards.size(), 1);
                QVERIFY2(logNamesFailure(log), qPrintable(log.lines().join(QLatin1Char('\n'))));
                *outcome = message;
            }
            QCOMPARE(SpoolerFixture::cloudSerial(QStringLiteral("Front")), QLatin1String(kSerial));
            QTRY_VERIFY_WITH_TIMEOUT(listening(window, kFrontPort), TestTiming::scaled(15000));
        }
        QCOMPARE(winsim::openHandleCount(), 0);
    });
}

// Printing: whatever the spooler cannot tell about the job, the job is sent and recorded once.
void TestHostFaults::spoolerFailsWhilePrinting()
{
    const QStringList calls { QStringLiteral("OpenPrinterW"), QStringLiteral("GetPrinterW"),
        QStringLiteral("EnumJobsW") };
    sweep(QStringLiteral("printing a job"), calls, [this](const Probe &probe, QString *outcome) {
        installedPrinter();
        QFile::remove(detailFilePath(QLatin1String(kSerial)));
        QVERIFY(m_sim.reset());
        {
            TolMainWindow window;
            QVERIFY(Rig::waitForBackgroundStart(window));
            QVERIFY(Rig::waitForListeners(window));
            probe.inject();
            const QByteArray bytes = Rig::jobBytes(QStringLiteral("sweep print"), 1200);
            QVERIFY(SpoolerFixture::printJob(QStringLiteral("Front"), QStringLiteral("sweep.txt"), bytes));
            QTRY_COMPARE_WITH_TIMEOUT(
                Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(20000));
            probe.settled();
            const QStringList record = Rig::records(QLatin1String(kSerial)).first();
            QCOMPARE(recordResult(record), QStringLiteral("打印成功"));
            QCOMPARE(recordSize(record), QString::number(bytes.size()));
            QTRY_COMPARE(m_sim.jobs().size(), 1);
            *outcome = recordDocument(record) == QLatin1String("sweep.txt")
                ? QStringLiteral("done")
                : QStringLiteral("recorded without its document name");
            QCOMPARE(Rig::waitForJobObjectsGone(), QString());
        }
        QCOMPARE(winsim::openHandleCount(), 0);
    });
}

// Renaming and changing the serial: the card, the spooler and task.db agree afterwards, whatever
// the spooler refused, and a refusal is told with the card's own message.
void TestHostFaults::spoolerFailsWhileModifying()
{
    const QStringList calls { QStringLiteral("OpenPrinterW"), QStringLiteral("SetPrinterDataW"),
        QStringLiteral("GetPrinterW"), QStringLiteral("SetPrinterW") };
    const QStringList messages { QStringLiteral("打印机名无效!"), QStringLiteral("修改云序号失败!"),
        QStringLiteral("修改打印机名失败!") };
    sweep(
        QStringLiteral("renaming and changing the serial"), calls, [&](const Probe &probe, QString *outcome) {
            installedPrinter();
            {
                TolMainWindow window;
                DriverItem *card = Rig::cards(window).value(0);
                QVERIFY(card);
                card->onModifyClicked();
                card->form().serialEdit->setText(QLatin1String(kNewSerial));
                card->form().nameEdit->setText(QStringLiteral("Renamed"));
                DialogWatcher dialogs;
                QVERIFY(Rig::waitForBackgroundStart(window));
                QVERIFY(Rig::waitForListeners(window));
                probe.inject();
                card->onModifyClicked();
                probe.settled();
                QVERIFY(dialogs.messages().size() <= 1);
                const QString message = dialogs.messages().value(0);
                QVERIFY2(message.isEmpty() || messages.contains(message), qPrintable(message));
                QCOMPARE(card->isViewMode(), message.isEmpty());
                const DriverInfo info = card->driverInfo();
                QVERIFY(Rig::spoolerPrinters().contains(info.printer_name));
                QCOMPARE(SpoolerFixture::cloudSerial(info.printer_name), info.cloud_sn);
                QCOMPARE(ProgramState::storedRows(),
                    QStringList { QStringLiteral("%1|%2|9001").arg(info.printer_name, info.cloud_sn) });
                *outcome = message.isEmpty() ? QStringLiteral("done") : message;
            }
            QCOMPARE(winsim::openHandleCount(), 0);
        });
}

// The history dialog shows the queued jobs it can read, and nothing when it cannot.
void TestHostFaults::spoolerFailsInHistory()
{
    const QStringList calls { QStringLiteral("OpenPrinterW"), QStringLiteral("GetPrinterW"),
        QStringLiteral("EnumJobsW") };
    sweep(QStringLiteral("job history"), calls, [this](const Probe &probe, QString *outcome) {
        installedPrinter();
        QVERIFY(winsim::pausePrinter("Front"));
        QVERIFY(winsim::submitJob("Front", std::string("queued-1.txt"), std::vector<uint8_t>(10, 1)));
        QVERIFY(winsim::submitJob("Front", std::string("queued-2.txt"), std::vector<uint8_t>(20, 2)));
        {
            SettingsDlg history(QStringLiteral("Front"), QLatin1String(kSerial));
            probe.inject();
            QMetaObject::invokeMethod(&history, "on_Timeout", Qt::DirectConnection);
            probe.settled();
            const int rows = history.model()->rowCount();
            QVERIFY(rows == 0 || rows == 2);
            if (rows == 2) {
                QCOMPARE(history.model()->index(0, 1).data().toString(), QStringLiteral("queued-1.txt"));
                QCOMPARE(history.model()->index(1, 1).data().toString(), QStringLiteral("queued-2.txt"));
            }
            *outcome = rows == 2 ? QStringLiteral("done") : QStringLiteral("queue not shown");
        }
        QCOMPARE(winsim::openHandleCount(), 0);
    });
}

// Deleting: either the printer, its card, its listener and its row all go, or all stay and the
// user is told "删除打印机失败".
void TestHostFaults::spoolerFailsWhileDeleting()
{
    const QStringList calls { QStringLiteral("OpenPrinterW"), QStringLiteral("GetPrinterW"),
        QStringLiteral("SetPrinterW"), QStringLiteral("DeletePrinterConnectionW"),
        QStringLiteral("DeletePrinter") };
    sweep(QStringLiteral("deleting a printer"), calls, [this](const Probe &probe, QString *outcome) {
        installedPrinter();
        QVERIFY(winsim::pausePrinter("Front"));
        QVERIFY(winsim::submitJob("Front", std::string("left.txt"), std::vector<uint8_t>(10, 1)));
        LogCapture log;
        {
            TolMainWindow window;
            DriverItem *card = Rig::cards(window).value(0);
            QVERIFY(card);
            // The question before the removal is answered; a failure's box has only "关闭".
            DialogWatcher dialogs(QStringLiteral("确定"));
            const QString question = QStringLiteral("确定删除打印机 Front？");
            QVERIFY(Rig::waitForBackgroundStart(window));
            QVERIFY(Rig::waitForListeners(window));
            probe.inject();
            card->onDeleteClicked();
            QTRY_VERIFY_WITH_TIMEOUT(
                Rig::cards(window).isEmpty() || dialogs.messages().size() > 1, TestTiming::scaled(20000));
            probe.settled();
            if (Rig::cards(window).isEmpty()) {
                QCOMPARE(dialogs.messages(), QStringList { question });
                QVERIFY(!Rig::spoolerPrinters().contains(QStringLiteral("Front")));
                QVERIFY(ProgramState::storedRows().isEmpty());
                QTRY_VERIFY(!ProgramState::acceptsConnections(kFrontPort));
                *outcome = QStringLiteral("done");
            } else {
                QCOMPARE(dialogs.messages(), (QStringList { question, QStringLiteral("删除打印机失败") }));
                QVERIFY(Rig::spoolerPrinters().contains(QStringLiteral("Front")));
                QCOMPARE(ProgramState::storedRows().size(), 1);
                QTRY_VERIFY_WITH_TIMEOUT(listening(window, kFrontPort), TestTiming::scaled(15000));
                QVERIFY2(logNamesFailure(log), qPrintable(log.lines().join(QLatin1Char('\n'))));
                *outcome = QStringLiteral("删除打印机失败, printer kept");
            }
            QCOMPARE(Rig::waitForJobObjectsGone(), QString());
        }
        QCOMPARE(winsim::openHandleCount(), 0);
    });
}

QTEST_MAIN(TestHostFaults)
#include "tst_hostfaults.moc"
