#include "addprinterthread.h"
#include "cprinter.h"
#include "programfolder.h"
#include "removeprinterthread.h"
#include "spoolerfixture.h"
#include "testpagethread.h"
#include "testprinters.h"
#include "widetext.h"
#include "win32.h"
#include "winsim/winsimcontrol.h"

#include <QSignalSpy>
#include <QTest>

namespace {

using TestPrinters::kDriver;

struct AddOutcome
{
    bool ret = false;
    QString msg;
    DriverInfo info;
};

AddOutcome runAdd(const QString &name, const QString &serial)
{
    DriverInfo request;
    request.printer_name = name;
    request.cloud_sn = serial;
    AddPrinterThread worker(request);
    QSignalSpy results(&worker, &AddPrinterThread::addResult);
    worker.start();
    worker.wait();
    AddOutcome outcome;
    if (results.count() != 1)
        return outcome;
    outcome.ret = results.at(0).at(0).toBool();
    outcome.msg = results.at(0).at(1).toString();
    outcome.info = results.at(0).at(2).value<DriverInfo>();
    return outcome;
}

struct RemoveOutcome
{
    bool ret = false;
    QString msg;
    QString printer;
};

RemoveOutcome runRemove(const QString &name)
{
    DriverInfo info;
    info.printer_name = name;
    RemovePrinterThread worker(info);
    QSignalSpy results(&worker, &RemovePrinterThread::removeResult);
    worker.start();
    worker.wait();
    RemoveOutcome outcome;
    if (results.count() == 1) {
        outcome.ret = results.at(0).at(0).toBool();
        outcome.msg = results.at(0).at(1).toString();
        outcome.printer = results.at(0).at(2).value<DriverInfo>().printer_name;
    }
    return outcome;
}

QStringList printerNames()
{
    CPrinter printer;
    QList<PRINTER_INFO_2W> printers;
    SpoolerBuffer buffer;
    QStringList names;
    if (printer.EnumPrinters(printers, buffer)) {
        for (const PRINTER_INFO_2W &record : printers)
            names << fromWide(record.pPrinterName) + QLatin1Char('@') + fromWide(record.pPortName);
    }
    return names;
}

QString lastRundllLine()
{
    const std::vector<std::string> lines = winsim::rundllCommandLines();
    return lines.empty() ? QString() : QString::fromStdString(lines.back());
}

} // namespace

class TestWorkers : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        registerDriverInfoMetaType();
        QVERIFY(ProgramFolder::install());
    }

    void init() { QVERIFY(winsim::reset()); }

    void cleanup() { QCOMPARE(winsim::openHandleCount(), 0); }

    void firstPrinterOnEmptySpooler()
    {
        const AddOutcome outcome = runAdd(QStringLiteral("前台"), QStringLiteral("00112233AABBCCDD"));
        QVERIFY(outcome.ret);
        QCOMPARE(outcome.msg, QStringLiteral("添加打印机成功"));
        QCOMPARE(outcome.info.printer_name, QStringLiteral("前台"));
        QCOMPARE(outcome.info.cloud_sn, QStringLiteral("00112233AABBCCDD"));
        QCOMPARE(outcome.info.port_name, QStringLiteral("REDadez001"));
        QCOMPARE(outcome.info.port_num, quint16(8101));
        QCOMPARE(outcome.info.driver_name, TestPrinters::driverName());
        QCOMPARE(outcome.info.ip, QStringLiteral("127.0.0.1"));

        // What the spooler holds now, read back through other calls.
        QCOMPARE(printerNames(), QStringList { QStringLiteral("前台@REDadez001") });
        CPrinter printer;
        QString host;
        quint16 number = 0;
        QCOMPARE(printer.GetPortInfo(QStringLiteral("REDadez001"), host, number), 0);
        QCOMPARE(host, QStringLiteral("127.0.0.1"));
        QCOMPARE(number, quint16(8101));
        QString serial;
        QVERIFY(printer.GetCloudPrinterId(QStringLiteral("前台"), serial));
        QCOMPARE(serial, QStringLiteral("00112233AABBCCDD"));
        quint16 cloudPort = 0;
        QVERIFY(printer.GetPrinterPortNum(QStringLiteral("前台"), cloudPort));
        QCOMPARE(cloudPort, quint16(8101));
        QVERIFY(!printer.GetDriverVersion(TestPrinters::driverName()).isEmpty());

        // The driver came from the INF beside the program.
        const QString line = lastRundllLine();
        QVERIFY2(
            line.contains(QStringLiteral(" /f ")) && line.endsWith(QStringLiteral(" /u")), qPrintable(line));
        QVERIFY2(line.contains(QStringLiteral("\\Driver\\VarnPtr.INF /r ")), qPrintable(line));
    }

    void lowestFreeIndexAndInstalledDriver()
    {
        QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.0.0.0"));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("A"), 1, QStringLiteral("1111111111111111")));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("C"), 3, QStringLiteral("3333333333333333")));
        const AddOutcome outcome = runAdd(QStringLiteral("B"), QStringLiteral("2222222222222222"));
        QVERIFY(outcome.ret);
        QCOMPARE(outcome.info.port_name, QStringLiteral("REDadez002"));
        QCOMPARE(outcome.info.port_num, quint16(8102));
        QVERIFY(printerNames().contains(QStringLiteral("B@REDadez002")));
        // The stand-in logs the arguments it was given, quoted only where they hold a space.
        QCOMPARE(lastRundllLine(),
            QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /if /b B /r REDadez002 /m \"")
                + TestPrinters::driverName() + QLatin1Char('"'));
    }

    void leftoverPortIsReused()
    {
        QVERIFY(SpoolerFixture::addMonitorPort(QStringLiteral("REDadez001"), 8101));
        const int exchangesBefore = winsim::callCount("XcvDataW");
        const AddOutcome outcome = runAdd(QStringLiteral("P"), QStringLiteral("ABCDEF0123456789"));
        QVERIFY(outcome.ret);
        QCOMPARE(outcome.info.port_name, QStringLiteral("REDadez001"));
        QCOMPARE(winsim::callCount("XcvDataW"), exchangesBefore);
    }

    void indexGrowsToFourDigits()
    {
        QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.0.0.0"));
        for (int index = 1; index <= 999; ++index)
            QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("p%1").arg(index), index));
        const AddOutcome outcome = runAdd(QStringLiteral("last"), QStringLiteral("0000000000000001"));
        QVERIFY(outcome.ret);
        QCOMPARE(outcome.info.port_name, QStringLiteral("REDadez1000"));
        QCOMPARE(outcome.info.port_num, quint16(9100));
    }

    void duplicatesIgnoreCase_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("serial");
        QTest::newRow("name in other case") << QStringLiteral("front") << QStringLiteral("0123456789ABCDEF");
        QTest::newRow("serial stored in lower case")
            << QStringLiteral("other") << QStringLiteral("AABBCCDDEEFF0011");
    }

    void duplicatesIgnoreCase()
    {
        QFETCH(QString, name);
        QFETCH(QString, serial);
        QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.0.0.0"));
        QVERIFY(
            SpoolerFixture::addCloudPrinter(QStringLiteral("Front"), 1, QStringLiteral("aabbccddeeff0011")));
        const AddOutcome outcome = runAdd(name, serial);
        QVERIFY(!outcome.ret);
        QCOMPARE(outcome.msg, QStringLiteral("当前打印机已经存在!"));
        QCOMPARE(outcome.info.printer_name, name);
        QCOMPARE(outcome.info.port_name, QString());
        QCOMPARE(printerNames().size(), 1);
    }

    void failures_data()
    {
        QTest::addColumn<QString>("call");
        QTest::addColumn<int>("nth");
        QTest::addColumn<uint>("error");
        QTest::addColumn<QString>("message");
        QTest::newRow("monitor refuses the port")
            << QStringLiteral("XcvDataW") << 1 << uint(ERROR_ACCESS_DENIED)
            << QStringLiteral("添加打印机失败，无法添加端口");
        QTest::newRow("serial store: no such printer")
            << QStringLiteral("OpenPrinterW") << 2 << uint(ERROR_INVALID_PRINTER_NAME)
            << QStringLiteral("添加打印机失败, 打印机名无效");
        QTest::newRow("serial store refused")
            << QStringLiteral("SetPrinterDataW") << 1 << uint(ERROR_ACCESS_DENIED)
            << QStringLiteral("添加打印机失败, 无法设置云序列号");
        QTest::newRow("port number store refused")
            << QStringLiteral("SetPrinterDataW") << 2 << uint(ERROR_ACCESS_DENIED)
            << QStringLiteral("添加打印机失败, 无法设置端口号");
        QTest::newRow("driver not installed")
            << QStringLiteral("RegOpenKeyExW") << 1 << uint(ERROR_FILE_NOT_FOUND) << QString();
    }

    void failures()
    {
        QFETCH(QString, call);
        QFETCH(int, nth);
        QFETCH(uint, error);
        QFETCH(QString, message);
        if (message.isEmpty()) {
            // Every environment's lookup fails: the driver seems absent after the installer ran.
            for (int i = 1; i <= 3; ++i)
                winsim::failCall(call.toStdString(), i, error);
            message = QStringLiteral("安装驱动失败");
        } else {
            winsim::failCall(call.toStdString(), nth, error);
        }
        const AddOutcome outcome = runAdd(QStringLiteral("F"), QStringLiteral("FEDCBA9876543210"));
        QVERIFY(!outcome.ret);
        QCOMPARE(outcome.msg, message);
        QCOMPARE(outcome.info.port_num, quint16(0));
    }

    void missingPortLibraryOrInstaller()
    {
        QVERIFY(ProgramFolder::removePortLibrary());
        AddOutcome outcome = runAdd(QStringLiteral("F"), QStringLiteral("FEDCBA9876543210"));
        QCOMPARE(outcome.msg, QStringLiteral("添加打印机失败，无法添加端口"));
        QVERIFY(ProgramFolder::install());

        // The installer cannot be started: no RUNDLL32 beside the program or on the search path.
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", "/nonexistent");
        outcome = runAdd(QStringLiteral("F"), QStringLiteral("FEDCBA9876543210"));
        qputenv("PATH", path);
        QVERIFY(!outcome.ret);
        QCOMPARE(outcome.msg, QStringLiteral("安装驱动失败"));
    }

    void removeWithQueuedJobs()
    {
        QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.0.0.0"));
        QVERIFY(
            SpoolerFixture::addCloudPrinter(QStringLiteral("Gone"), 1, QStringLiteral("1111111111111111")));
        QVERIFY(
            SpoolerFixture::addCloudPrinter(QStringLiteral("Stays"), 2, QStringLiteral("2222222222222222")));
        QVERIFY(winsim::pausePrinter("Gone"));
        QVERIFY(winsim::submitJob("Gone", std::string("a.txt"), { 1, 2, 3 }) != 0);
        QVERIFY(winsim::submitJob("Gone", std::string("b.txt"), { 4, 5 }) != 0);

        const RemoveOutcome outcome = runRemove(QStringLiteral("Gone"));
        QVERIFY(outcome.ret);
        QCOMPARE(outcome.msg, QStringLiteral("删除打印机驱动成功"));
        QCOMPARE(outcome.printer, QStringLiteral("Gone"));
        QCOMPARE(printerNames(), QStringList { QStringLiteral("Stays@REDadez002") });
        // Driver and port stay installed.
        CPrinter printer;
        QVERIFY(!printer.GetDriverVersion(TestPrinters::driverName()).isEmpty());
        QString host;
        quint16 number = 0;
        QCOMPARE(printer.GetPortInfo(QStringLiteral("REDadez001"), host, number), 0);
        QCOMPARE(number, quint16(8101));
    }

    void testPageInTheBackground()
    {
        QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.0.0.0"));
        QVERIFY(SpoolerFixture::addCloudPrinter(
            QStringLiteral("Front Desk"), 1, QStringLiteral("1111111111111111")));
        QVERIFY(winsim::pausePrinter("Front Desk"));
        TestPageThread worker(QStringLiteral("Front Desk"));
        QSignalSpy printed(&worker, &TestPageThread::testPagePrinted);
        worker.start();
        QVERIFY(worker.wait(60000));
        QCOMPARE(printed.count(), 1);
        QCOMPARE(printed.at(0).at(0).toString(), QStringLiteral("Front Desk"));
        QCOMPARE(lastRundllLine(), QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /k /n \"Front Desk\""));
    }

    void removeUnknownPrinter()
    {
        const RemoveOutcome outcome = runRemove(QStringLiteral("nobody"));
        QVERIFY(!outcome.ret);
        QCOMPARE(outcome.msg, QStringLiteral("删除打印机失败"));
        QCOMPARE(outcome.printer, QStringLiteral("nobody"));
    }
};

QTEST_GUILESS_MAIN(TestWorkers)
#include "tst_workers.moc"
