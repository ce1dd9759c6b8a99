#include <QFile>
#include <QFileInfo>
#include <QtTest>

#include <string>
#include <vector>

#include "cprinter.h"
#include "logcapture.h"
#include "programfolder.h"
#include "scopedprogramwaits.h"
#include "testprinters.h"
#include "winsim/winsimcontrol.h"

namespace {

using TestPrinters::kDriver;

QStringList rundllLines()
{
    QStringList lines;
    for (const std::string &line : winsim::rundllCommandLines())
        lines.append(QString::fromStdString(line));
    return lines;
}

// A printer on the local port, its driver installed as PRINTUI would.
bool addPrinter(const char *name)
{
    return winsim::installDriver(kDriver, "Windows x64", "1.22.5.3")
        && winsim::addPrinter(name, "LPT1:", kDriver);
}

bool printerExists(const QString &name)
{
    std::u16string wide = name.toStdU16String();
    HANDLE handle = nullptr;
    if (!OpenPrinterW(wide.data(), &handle, nullptr))
        return false;
    ClosePrinter(handle);
    return true;
}

// A printer data value exactly as stored: its declared type and its bytes.
bool storedValue(const QString &printer, const char16_t *valueName, DWORD &type, QByteArray &bytes)
{
    std::u16string wide = printer.toStdU16String();
    std::u16string name(valueName);
    HANDLE handle = nullptr;
    if (!OpenPrinterW(wide.data(), &handle, nullptr))
        return false;
    DWORD needed = 0;
    GetPrinterDataW(handle, name.data(), &type, nullptr, 0, &needed);
    bytes = QByteArray(int(needed), '\0');
    const DWORD result = GetPrinterDataW(
        handle, name.data(), &type, reinterpret_cast<LPBYTE>(bytes.data()), needed, &needed);
    ClosePrinter(handle);
    return result == ERROR_SUCCESS;
}

bool storeRawValue(const QString &printer, const char16_t *valueName, DWORD type, QByteArray bytes)
{
    std::u16string wide = printer.toStdU16String();
    std::u16string name(valueName);
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, PRINTER_ACCESS_ADMINISTER };
    HANDLE handle = nullptr;
    if (!OpenPrinterW(wide.data(), &handle, &defaults))
        return false;
    const DWORD result = SetPrinterDataW(
        handle, name.data(), type, reinterpret_cast<LPBYTE>(bytes.data()), DWORD(bytes.size()));
    ClosePrinter(handle);
    return result == ERROR_SUCCESS;
}

QStringList queuedDocuments(const QString &printer)
{
    std::u16string wide = printer.toStdU16String();
    HANDLE handle = nullptr;
    QStringList documents;
    if (!OpenPrinterW(wide.data(), &handle, nullptr))
        return documents;
    DWORD needed = 0;
    DWORD count = 0;
    EnumJobsW(handle, 0, 100, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed + 1);
    if (EnumJobsW(handle, 0, 100, 2, buffer.data(), needed, &needed, &count)) {
        const auto *jobs = reinterpret_cast<const JOB_INFO_2W *>(buffer.data());
        for (DWORD i = 0; i < count; ++i)
            documents.append(QString::fromUtf16(jobs[i].pDocument));
    }
    ClosePrinter(handle);
    return documents;
}

bool queueJobs(const char *printer, int count)
{
    if (!winsim::pausePrinter(printer))
        return false;
    for (int i = 0; i < count; ++i) {
        if (winsim::submitJob(printer, std::string("doc") + std::to_string(i), { 1, 2, 3 }) == 0)
            return false;
    }
    return true;
}

} // namespace

class TstCPrinter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void cloudIdRoundTrip_data();
    void cloudIdRoundTrip();
    void portNumberRoundTrip_data();
    void portNumberRoundTrip();
    void setCloudIdTellsUnknownPrintersApart();
    void readsWithoutTheValue();
    void readFailuresAfterTheSizeQuery();
    void portValueTooShortIsNoPort();
    void setPortNumberOnUnknownPrinter();
    void printerInfoTravelsWithItsBuffer();
    void renameKeepsPortDriverAndData();
    void renameFailures();

    void removeWithEmptyNameTouchesNothing();
    void removePurgesQueuedJobsThenDeletes();
    void removeRefusesNamesItWouldCutShort();
    void removeUnknownPrinter();
    void deletePrintJobOnEmptyQueueReadsOnce();

    void addCloudPrinterCommandLines();
    void addCloudPrinterIgnoresTheInstallersExitCode();
    void addCloudPrinterNotStarted();
    void addCloudPrinterTimeLimitKillsTheInstaller();
    void doubleQuotesAreRefused_data();
    void doubleQuotesAreRefused();
    void printTestPage();

private:
    CPrinter m_printer;
};

void TstCPrinter::initTestCase()
{
    QVERIFY(ProgramFolder::link(QStringLiteral("Driver"), QStringLiteral("Driver")));
    QVERIFY(QFileInfo::exists(ProgramFolder::filePath(QStringLiteral("Driver/VarnPtr.INF"))));
    QVERIFY(ProgramFolder::remove(QStringLiteral("RUNDLL32")));
}

void TstCPrinter::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
}

void TstCPrinter::cleanup()
{
    QCOMPARE(winsim::openHandleCount(), 0);
    QVERIFY(ProgramFolder::remove(QStringLiteral("RUNDLL32")));
}

void TstCPrinter::cloudIdRoundTrip_data()
{
    QTest::addColumn<QString>("serial");
    QTest::newRow("serial") << "0123456789ABCDEF";
    QTest::newRow("empty") << "";
    QTest::newRow("not ASCII") << QStringLiteral("云打印机-01");
}

void TstCPrinter::cloudIdRoundTrip()
{
    QFETCH(QString, serial);
    QVERIFY(addPrinter("Office"));
    LogCapture log;

    QCOMPARE(m_printer.SetCloudPrinterId(QStringLiteral("Office"), serial), 0);
    QVERIFY(log.hasLine(QStringLiteral("224_CPrinter SetCloudPrinterId"), QtDebugMsg));

    // 8-bit text and one NUL, under REG_SZ.
    DWORD type = 0;
    QByteArray bytes;
    QVERIFY(storedValue(QStringLiteral("Office"), u"CloudId", type, bytes));
    QCOMPARE(type, DWORD(REG_SZ));
    QCOMPARE(bytes, serial.toUtf8() + QByteArray(1, '\0'));

    QString read = QStringLiteral("before");
    QVERIFY(m_printer.GetCloudPrinterId(QStringLiteral("office"), read));
    QCOMPARE(read, serial);
    QVERIFY(log.hasLine(QStringLiteral("258_CPrinter GetCloudPrinterId"), QtDebugMsg));
    QVERIFY(log.hasLine(QStringLiteral("299_CPrinter GetCloudPrinterId result:"), QtInfoMsg));
}

void TstCPrinter::portNumberRoundTrip_data()
{
    QTest::addColumn<uint>("port");
    QTest::addColumn<QByteArray>("stored");
    QTest::newRow("8101") << 8101u << QByteArray::fromHex("a51f");
    QTest::newRow("65535") << 65535u << QByteArray::fromHex("ffff");
    QTest::newRow("256") << 256u << QByteArray::fromHex("0001");
    QTest::newRow("0") << 0u << QByteArray::fromHex("0000");
}

void TstCPrinter::portNumberRoundTrip()
{
    QFETCH(uint, port);
    QFETCH(QByteArray, stored);
    QVERIFY(addPrinter("Office"));
    LogCapture log;

    QVERIFY(m_printer.SetPrinterPortNum(QStringLiteral("Office"), quint16(port)));
    QVERIFY(log.hasLine(QStringLiteral("314_CPrinter SetPrinterPortNum result is :"), QtInfoMsg));

    DWORD type = 0;
    QByteArray bytes;
    QVERIFY(storedValue(QStringLiteral("Office"), u"CloudPort", type, bytes));
    QCOMPARE(type, DWORD(REG_BINARY));
    QCOMPARE(bytes.toHex(), stored.toHex());

    quint16 read = 1234;
    QVERIFY(m_printer.GetPrinterPortNum(QStringLiteral("Office"), read));
    QCOMPARE(uint(read), port);
    QCOMPARE(log.linesStartingWith(QStringLiteral("373_")),
        QStringList { QStringLiteral("373_CPrinter Office port is %1").arg(port) });
}

void TstCPrinter::setCloudIdTellsUnknownPrintersApart()
{
    LogCapture log;
    QCOMPARE(m_printer.SetCloudPrinterId(QStringLiteral("Nobody"), QStringLiteral("0123456789ABCDEF")), -1);
    QCOMPARE(winsim::callCount("SetPrinterDataW"), 0);
    QVERIFY(log.hasLine(QStringLiteral("234_CPrinter OpenPrinter Nobody, error is 1801"), QtCriticalMsg));

    QVERIFY(addPrinter("Office"));
    winsim::failCall("OpenPrinterW", 1, ERROR_ACCESS_DENIED);
    QCOMPARE(m_printer.SetCloudPrinterId(QStringLiteral("Office"), QStringLiteral("0123456789ABCDEF")), -2);
    QVERIFY(log.hasLine(QStringLiteral("234_CPrinter OpenPrinter Office, error is 5"), QtCriticalMsg));
    QCOMPARE(winsim::callCount("SetPrinterDataW"), 0);

    // The store's own error comes back as it is.
    winsim::failCall("SetPrinterDataW", 1, 1726);
    QCOMPARE(m_printer.SetCloudPrinterId(QStringLiteral("Office"), QStringLiteral("0123456789ABCDEF")), 1726);
}

void TstCPrinter::readsWithoutTheValue()
{
    QVERIFY(addPrinter("Office"));
    LogCapture log;

    QString serial = QStringLiteral("before");
    QVERIFY(!m_printer.GetCloudPrinterId(QStringLiteral("Office"), serial));
    QCOMPARE(serial, QStringLiteral("before"));
    QCOMPARE(winsim::callCount("GetPrinterDataW"), 1);
    QVERIFY(log.hasLine(QStringLiteral("283_CPrinter GetPrinterData error is"), QtCriticalMsg));

    quint16 port = 1234;
    QVERIFY(!m_printer.GetPrinterPortNum(QStringLiteral("Office"), port));
    QCOMPARE(port, quint16(1234));
    QCOMPARE(winsim::callCount("GetPrinterDataW"), 2);
    QVERIFY(log.hasLine(QStringLiteral("358_CPrinter GetPrinterData error is"), QtCriticalMsg));

    QVERIFY(!m_printer.GetCloudPrinterId(QStringLiteral("Nobody"), serial));
    QVERIFY(log.hasLine(QStringLiteral("267_CPrinter OpenPrinter Nobody, error is 1801"), QtCriticalMsg));
    QVERIFY(!m_printer.GetPrinterPortNum(QStringLiteral("Nobody"), port));
    QVERIFY(log.hasLine(QStringLiteral("342_CPrinter OpenPrinter Nobody, error is 1801"), QtCriticalMsg));
}

void TstCPrinter::readFailuresAfterTheSizeQuery()
{
    QVERIFY(addPrinter("Office"));
    QCOMPARE(m_printer.SetCloudPrinterId(QStringLiteral("Office"), QStringLiteral("0123456789ABCDEF")), 0);
    QVERIFY(m_printer.SetPrinterPortNum(QStringLiteral("Office"), 8101));
    LogCapture log;

    SetLastError(0);
    winsim::failCall("GetPrinterDataW", 2, ERROR_NOT_ENOUGH_MEMORY);
    QString serial = QStringLiteral("before");
    QVERIFY(!m_printer.GetCloudPrinterId(QStringLiteral("Office"), serial));
    QCOMPARE(serial, QStringLiteral("before"));
    QVERIFY(log.hasLine(QStringLiteral("292_CPrinter GetPrinterData error is"), QtCriticalMsg));

    winsim::failCall("GetPrinterDataW", 2, ERROR_NOT_ENOUGH_MEMORY);
    quint16 port = 1234;
    QVERIFY(!m_printer.GetPrinterPortNum(QStringLiteral("Office"), port));
    QCOMPARE(port, quint16(1234));
    QVERIFY(log.hasLine(QStringLiteral("367_CPrinter GetPrinterData error is"), QtCriticalMsg));
}

void TstCPrinter::portValueTooShortIsNoPort()
{
    QVERIFY(addPrinter("Office"));
    QVERIFY(storeRawValue(QStringLiteral("Office"), u"CloudPort", REG_BINARY, QByteArray(1, '\x7f')));
    quint16 port = 1234;
    QVERIFY(!m_printer.GetPrinterPortNum(QStringLiteral("Office"), port));
    QCOMPARE(port, quint16(1234));

    // A longer value gives its first two bytes.
    QVERIFY(
        storeRawValue(QStringLiteral("Office"), u"CloudPort", REG_BINARY, QByteArray::fromHex("a51fffff")));
    QVERIFY(m_printer.GetPrinterPortNum(QStringLiteral("Office"), port));
    QCOMPARE(port, quint16(8101));

    // The serial is the text up to the first NUL.
    QVERIFY(storeRawValue(
        QStringLiteral("Office"), u"CloudId", REG_SZ, QByteArray("00000000000000B2\0junk", 21)));
    QString serial;
    QVERIFY(m_printer.GetCloudPrinterId(QStringLiteral("Office"), serial));
    QCOMPARE(serial, QStringLiteral("00000000000000B2"));
}

void TstCPrinter::setPortNumberOnUnknownPrinter()
{
    LogCapture log;
    QVERIFY(!m_printer.SetPrinterPortNum(QStringLiteral("Nobody"), 8101));
    QVERIFY(log.hasLine(QStringLiteral("314_CPrinter OpenPrinter Nobody, error is 1801"), QtCriticalMsg));

    QVERIFY(addPrinter("Office"));
    winsim::failCall("SetPrinterDataW", 1, ERROR_ACCESS_DENIED);
    QVERIFY(!m_printer.SetPrinterPortNum(QStringLiteral("Office"), 8101));
    QVERIFY(log.hasLine(QStringLiteral("314_CPrinter SetPrinterPortNum result is : 5"), QtInfoMsg));
}

void TstCPrinter::printerInfoTravelsWithItsBuffer()
{
    QVERIFY(addPrinter("Office"));
    LogCapture log;

    SpoolerBuffer record;
    QVERIFY(m_printer.GetCloudPrinterInfo(QStringLiteral("Office"), record));
    const PRINTER_INFO_2W *info = record.as<PRINTER_INFO_2W>();
    QVERIFY(info != nullptr);
    QCOMPARE(QString::fromUtf16(info->pPrinterName), QStringLiteral("Office"));
    QCOMPARE(QString::fromUtf16(info->pPortName), QStringLiteral("LPT1:"));
    QCOMPARE(QString::fromUtf16(info->pDriverName), QString::fromLatin1(kDriver));
    QCOMPARE(info->cJobs, DWORD(0));
    // The texts stay readable for as long as the buffer lives in its new owner.
    const SpoolerBuffer kept = std::move(record);
    QVERIFY(!record.isValid());
    QCOMPARE(QString::fromUtf16(kept.as<PRINTER_INFO_2W>()->pPrinterName), QStringLiteral("Office"));
    QVERIFY(log.hasLine(
        QStringLiteral("419_CPrinter GetCloudPrinterInfo printer name: Office, port: LPT1:"), QtInfoMsg));

    record = SpoolerBuffer(64);
    QVERIFY(!m_printer.GetCloudPrinterInfo(QStringLiteral("Nobody"), record));
    QVERIFY(!record.isValid());
    QVERIFY(log.hasLine(QStringLiteral("392_CPrinter OpenPrinter Nobody, error is 1801"), QtCriticalMsg));

    winsim::failCall("GetPrinterW", 1, ERROR_ACCESS_DENIED);
    QVERIFY(!m_printer.GetCloudPrinterInfo(QStringLiteral("Office"), record));
    QVERIFY(log.hasLine(QStringLiteral("402_CPrinter GetPrinter lasterror is"), QtDebugMsg));

    winsim::failCall("GetPrinterW", 2, ERROR_ACCESS_DENIED);
    QVERIFY(!m_printer.GetCloudPrinterInfo(QStringLiteral("Office"), record));
    QVERIFY(log.hasLine(QStringLiteral("411_CPrinter GetPrinterlasterror is"), QtDebugMsg));
    QVERIFY(!record.isValid());
}

void TstCPrinter::renameKeepsPortDriverAndData()
{
    QVERIFY(addPrinter("Office"));
    QCOMPARE(m_printer.SetCloudPrinterId(QStringLiteral("Office"), QStringLiteral("0123456789ABCDEF")), 0);
    QVERIFY(m_printer.SetPrinterPortNum(QStringLiteral("Office"), 8101));
    LogCapture log;

    QVERIFY(m_printer.RenamePrinter(QStringLiteral("Office"), QStringLiteral("前台 Printer")));
    QVERIFY(log.hasLine(QStringLiteral("676_CPrinter RenamePrinter"), QtDebugMsg));
    QVERIFY(log.linesStartingWith(QStringLiteral("676_"))
                .value(0)
                .contains(QStringLiteral("Office;前台 Printer")));

    QVERIFY(!printerExists(QStringLiteral("Office")));
    QString serial;
    quint16 port = 0;
    QVERIFY(m_printer.GetCloudPrinterId(QStringLiteral("前台 Printer"), serial));
    QVERIFY(m_printer.GetPrinterPortNum(QStringLiteral("前台 Printer"), port));
    QCOMPARE(serial, QStringLiteral("0123456789ABCDEF"));
    QCOMPARE(port, quint16(8101));

    SpoolerBuffer record;
    QVERIFY(m_printer.GetCloudPrinterInfo(QStringLiteral("前台 Printer"), record));
    const PRINTER_INFO_2W *info = record.as<PRINTER_INFO_2W>();
    QCOMPARE(QString::fromUtf16(info->pPortName), QStringLiteral("LPT1:"));
    QCOMPARE(QString::fromUtf16(info->pDriverName), QString::fromLatin1(kDriver));
}

void TstCPrinter::renameFailures()
{
    LogCapture log;
    QVERIFY(!m_printer.RenamePrinter(QStringLiteral("Nobody"), QStringLiteral("Somebody")));
    QVERIFY(log.hasLine(QStringLiteral("684_CPrinter OpenPrinter Nobody, error is 1801"), QtCriticalMsg));

    QVERIFY(addPrinter("Office"));
    QVERIFY(addPrinter("Lobby"));
    // Names are unique without regard to case: the spooler refuses, and both printers stay.
    QVERIFY(!m_printer.RenamePrinter(QStringLiteral("Office"), QStringLiteral("LOBBY")));
    QVERIFY(log.hasLine(QStringLiteral("715_CPrinter SetPrinter getlasterror is"), QtDebugMsg));
    QVERIFY(printerExists(QStringLiteral("Office")));

    winsim::failCall("GetPrinterW", 1, ERROR_ACCESS_DENIED);
    QVERIFY(!m_printer.RenamePrinter(QStringLiteral("Office"), QStringLiteral("Other")));
    QVERIFY(log.hasLine(QStringLiteral("694_CPrinter GetPrinter getlasterror is"), QtDebugMsg));
    winsim::failCall("GetPrinterW", 2, ERROR_ACCESS_DENIED);
    QVERIFY(!m_printer.RenamePrinter(QStringLiteral("Office"), QStringLiteral("Other")));
    QVERIFY(log.hasLine(QStringLiteral("704_CPrinter GetPrinter getlasterror is"), QtDebugMsg));
    QVERIFY(printerExists(QStringLiteral("Office")));
}

void TstCPrinter::removeWithEmptyNameTouchesNothing()
{
    LogCapture log;
    QVERIFY(!m_printer.RemovePrinter(QString()));
    QVERIFY(
        log.hasLine(QStringLiteral("509_CPrinter Remove printer failed, printer name is empty"), QtDebugMsg));
    for (const char *call :
        { "OpenPrinterW", "GetPrinterW", "SetPrinterW", "DeletePrinter", "DeletePrinterConnectionW" })
        QCOMPARE(winsim::callCount(call), 0);
}

void TstCPrinter::removePurgesQueuedJobsThenDeletes()
{
    QVERIFY(addPrinter("Office"));
    QVERIFY(queueJobs("Office", 3));
    QCOMPARE(queuedDocuments(QStringLiteral("Office")).size(), 3);
    LogCapture log;

    QVERIFY(m_printer.RemovePrinter(QStringLiteral("Office")));
    QVERIFY(log.hasLine(QStringLiteral("550_CPrinter DeletePrintJob"), QtDebugMsg));
    QCOMPARE(winsim::callCount("SetPrinterW"), 1);
    QCOMPARE(winsim::callCount("DeletePrinterConnectionW"), 1);
    // The printer goes at once only because its queue was empty by then.
    QVERIFY(!printerExists(QStringLiteral("Office")));
}

void TstCPrinter::removeRefusesNamesItWouldCutShort()
{
    const QString longName(260, QLatin1Char('n'));
    QVERIFY(!m_printer.RemovePrinter(longName));
    QCOMPARE(winsim::callCount("OpenPrinterW"), 0);
}

void TstCPrinter::removeUnknownPrinter()
{
    LogCapture log;
    QVERIFY(!m_printer.RemovePrinter(QStringLiteral("Nobody")));
    QVERIFY(log.hasLine(QStringLiteral("524_CPrinter OpenPrinter LastError: 1801"), QtDebugMsg));

    QVERIFY(addPrinter("Office"));
    winsim::failCall("GetPrinterW", 1, ERROR_ACCESS_DENIED);
    QVERIFY(!m_printer.RemovePrinter(QStringLiteral("Office")));
    QVERIFY(log.hasLine(QStringLiteral("567_CPrinter GetPrinter failed:"), QtDebugMsg));
    QVERIFY(log.hasLine(QStringLiteral("530_CPrinter DeletePrintJob failed"), QtDebugMsg));
    QVERIFY(printerExists(QStringLiteral("Office")));

    winsim::failCall("DeletePrinter", 1, ERROR_ACCESS_DENIED);
    QVERIFY(!m_printer.RemovePrinter(QStringLiteral("Office")));
    QVERIFY(log.hasLine(QStringLiteral("539_CPrinter DeletePrinter failed GetLastError: 5"), QtDebugMsg));
    QVERIFY(printerExists(QStringLiteral("Office")));
}

void TstCPrinter::deletePrintJobOnEmptyQueueReadsOnce()
{
    QVERIFY(addPrinter("Office"));
    std::u16string name = u"Office";
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, PRINTER_ALL_ACCESS };
    HANDLE handle = nullptr;
    QVERIFY(OpenPrinterW(name.data(), &handle, &defaults));

    QVERIFY(m_printer.DeletePrintJob(handle));
    QCOMPARE(winsim::callCount("GetPrinterW"), 2); // the size query and one read
    QCOMPARE(winsim::callCount("SetPrinterW"), 0);

    // With jobs: purged, then read again and found empty.
    QVERIFY(queueJobs("Office", 2));
    LogCapture log;
    QVERIFY(m_printer.DeletePrintJob(handle));
    QVERIFY(queuedDocuments(QStringLiteral("Office")).isEmpty());
    QCOMPARE(winsim::callCount("SetPrinterW"), 1);

    // A failed read in the loop.
    QVERIFY(queueJobs("Office", 1));
    winsim::failCall("GetPrinterW", 2, ERROR_ACCESS_DENIED);
    QVERIFY(!m_printer.DeletePrintJob(handle));
    QVERIFY(log.hasLine(QStringLiteral("576_CPrinter GetPrinter failed: 5"), QtDebugMsg));
    ClosePrinter(handle);
}

void TstCPrinter::addCloudPrinterCommandLines()
{
    QVERIFY(ProgramFolder::placePortLibrary());
    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez001"), QStringLiteral("127.0.0.1"), 8101), 0);
    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez002"), QStringLiteral("127.0.0.1"), 8102), 0);
    const QString inf = ProgramFolder::driverInfPath();
    LogCapture log;

    // First printer: the driver comes from the INF.
    QVERIFY(m_printer.addCloudPrinter(QStringLiteral("Office Printer"), QStringLiteral("REDadez001"),
        QString::fromLatin1(kDriver), inf, true));
    const QString withInf
        = QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /if /b \"Office Printer\" /f \"") + inf
        + QStringLiteral("\" /r \"REDadez001\" /m \"") + TestPrinters::driverName() + QStringLiteral("\" /u");
    QCOMPARE(log.linesStartingWith(QStringLiteral("197_")),
        QStringList { QStringLiteral("197_CPrinter cmd is ") + withInf });
    QVERIFY(log.hasLine(QStringLiteral("180_CPrinter addCloudPrinter"), QtDebugMsg));

    // Second printer: the driver is there already.
    QVERIFY(m_printer.addCloudPrinter(
        QStringLiteral("前台"), QStringLiteral("REDadez002"), QString::fromLatin1(kDriver), inf, false));
    const QString withoutInf
        = QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /if /b \"前台\" /r \"REDadez002\" /m \"")
        + TestPrinters::driverName() + QLatin1Char('"');
    QCOMPARE(log.linesStartingWith(QStringLiteral("197_")).value(1),
        QStringLiteral("197_CPrinter cmd is ") + withoutInf);

    // What the installer got: the same arguments (it writes them quoted only where needed).
    QCOMPARE(rundllLines(),
        QStringList({ QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /if /b \"Office Printer\" /f ") + inf
                + QStringLiteral(" /r REDadez001 /m \"") + TestPrinters::driverName()
                + QStringLiteral("\" /u"),
            QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /if /b 前台 /r REDadez002 /m \"")
                + TestPrinters::driverName() + QLatin1Char('"') }));

    // And it did its work: both printers on their ports, the driver with its version.
    SpoolerBuffer record;
    QVERIFY(m_printer.GetCloudPrinterInfo(QStringLiteral("Office Printer"), record));
    QCOMPARE(QString::fromUtf16(record.as<PRINTER_INFO_2W>()->pPortName), QStringLiteral("REDadez001"));
    QVERIFY(m_printer.GetCloudPrinterInfo(QStringLiteral("前台"), record));
    QCOMPARE(QString::fromUtf16(record.as<PRINTER_INFO_2W>()->pPortName), QStringLiteral("REDadez002"));
    QVERIFY(!m_printer.GetDriverVersion(QString::fromLatin1(kDriver)).isEmpty());
}

void TstCPrinter::addCloudPrinterIgnoresTheInstallersExitCode()
{
    // No such port: the installer fails, but it ran to its end in time.
    QVERIFY(m_printer.addCloudPrinter(QStringLiteral("Office"), QStringLiteral("REDadez404"),
        QString::fromLatin1(kDriver), ProgramFolder::driverInfPath(), true));
    QCOMPARE(rundllLines().size(), 1);
    QVERIFY(!printerExists(QStringLiteral("Office")));
}

void TstCPrinter::addCloudPrinterNotStarted()
{
    // Neither beside the program nor on PATH.
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray("/nonexistent"));
    LogCapture log;
    const bool added = m_printer.addCloudPrinter(
        QStringLiteral("Office"), QStringLiteral("LPT1:"), QString::fromLatin1(kDriver), QString(), false);
    qputenv("PATH", path);
    QVERIFY(!added);
    QVERIFY(log.hasLine(QStringLiteral("202_CPrinter waitForStarted() returned false"), QtDebugMsg));
    QCOMPARE(log.countStartingWith(QStringLiteral("207_")), 0);
}

void TstCPrinter::addCloudPrinterTimeLimitKillsTheInstaller()
{
    const QString pidFile = ProgramFolder::filePath(QStringLiteral("installer.pid"));
    QFile::remove(pidFile);
    QVERIFY(ProgramFolder::writeFakeRundll32(QStringLiteral("echo $$ > '%1'\nexec sleep 60").arg(pidFile)));
    ProgramWaits waits;
    waits.childProcessLimitCapMs = 1000;
    const ScopedProgramWaits shortChildren(waits);
    LogCapture log;

    QVERIFY(!m_printer.addCloudPrinter(
        QStringLiteral("Office"), QStringLiteral("LPT1:"), QString::fromLatin1(kDriver), QString(), false));
    QVERIFY(log.hasLine(QStringLiteral("207_CPrinter waitForFinished(5*60000) returned false"), QtDebugMsg));

    QFile file(pidFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray pid = file.readAll().trimmed();
    QVERIFY(!pid.isEmpty());
    QVERIFY2(!QFileInfo::exists(QStringLiteral("/proc/") + QString::fromLatin1(pid)), pid.constData());
}

void TstCPrinter::doubleQuotesAreRefused_data()
{
    QTest::addColumn<int>("which");
    QTest::newRow("printer name") << 0;
    QTest::newRow("port name") << 1;
    QTest::newRow("driver name") << 2;
    QTest::newRow("INF path") << 3;
}

void TstCPrinter::doubleQuotesAreRefused()
{
    QFETCH(int, which);
    QStringList texts { QStringLiteral("Office"), QStringLiteral("LPT1:"), QString::fromLatin1(kDriver),
        ProgramFolder::driverInfPath() };
    texts[which] += QStringLiteral("\" /z \"x");
    LogCapture log;

    QVERIFY(!m_printer.addCloudPrinter(texts[0], texts[1], texts[2], texts[3], true));
    QCOMPARE(log.countStartingWith(QStringLiteral("197_")), 0);
    QVERIFY(log.hasLine(QStringLiteral("CPrinter addCloudPrinter refused"), QtCriticalMsg));

    m_printer.PrintTestPage(QStringLiteral("Office\" /q \"x"));
    QVERIFY(log.hasLine(QStringLiteral("CPrinter PrintTestPage refused"), QtCriticalMsg));
    QVERIFY(rundllLines().isEmpty());
}

void TstCPrinter::printTestPage()
{
    QVERIFY(addPrinter("Front Desk"));
    QVERIFY(winsim::pausePrinter("Front Desk"));
    LogCapture log;

    m_printer.PrintTestPage(QStringLiteral("Front Desk"));
    QCOMPARE(rundllLines(),
        QStringList { QStringLiteral("RUNDLL32 PRINTUI.DLL,PrintUIEntry /k /n \"Front Desk\"") });
    QCOMPARE(queuedDocuments(QStringLiteral("Front Desk")), QStringList { QStringLiteral("测试页") });
    QCOMPARE(log.linesStartingWith(QStringLiteral("430_")).size(), 1);
    QVERIFY(log.hasLine(QStringLiteral("430_CPrinter"), QtDebugMsg));
}

QTEST_GUILESS_MAIN(TstCPrinter)
#include "tst_cprinter.moc"
