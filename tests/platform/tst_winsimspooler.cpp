// The spooler calls of winsim against the rules Windows keeps: two-call sizing, error codes, names
// without regard to case, text pointers inside the caller's buffer, and handles that are all closed.
#include "winsimtestsupport.h"

#include <QtTest>

#include <functional>
#include <thread>
#include <vector>

namespace {

const QString kPrinter = QStringLiteral("Cloud Printer");
const QString kPort = QStringLiteral("REDadez001");

using EnumCall = std::function<BOOL(BYTE *, DWORD, DWORD *, DWORD *)>;

// The text pointers of one record, for checking that they point into the caller's buffer.
using TextsOf = std::function<std::vector<const void *>(const BYTE *record)>;

struct EnumCase
{
    EnumCall call;
    size_t recordSize;
    TextsOf texts;
};

template<typename Record> Record recordAt(const BYTE *buffer, size_t index)
{
    Record record;
    std::memcpy(&record, buffer + index * sizeof(Record), sizeof record);
    return record;
}

std::vector<BYTE> enumerateAll(const EnumCall &call, DWORD *count)
{
    DWORD needed = 0;
    call(nullptr, 0, &needed, count);
    std::vector<BYTE> buffer(needed);
    if (!call(buffer.data(), needed, &needed, count))
        buffer.clear();
    return buffer;
}

QByteArray dataValue(HANDLE printer, const char16_t *name, DWORD *type, DWORD *status)
{
    std::u16string value = name;
    DWORD needed = 0;
    *status = GetPrinterDataW(printer, value.data(), type, nullptr, 0, &needed);
    if (*status != ERROR_MORE_DATA)
        return QByteArray();
    QByteArray bytes(int(needed), '\0');
    *status = GetPrinterDataW(
        printer, value.data(), type, reinterpret_cast<BYTE *>(bytes.data()), needed, &needed);
    return bytes;
}

} // namespace

class TestWinsimSpooler : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void enumerationsFollowTheTwoCallRules_data();
    void enumerationsFollowTheTwoCallRules();
    void emptyEnumerationsSucceedWithNothing();
    void unsupportedLevelsAreRefused();
    void handlesAndNamesAreCheckedAsOnWindows();
    void getPrinterReportsTheRecordAndQueue();
    void printerDataKeepsTypeAndBytes();
    void printerDataNeedsAdministerAccess();
    void renameKeepsPortDriverDataAndJobs();
    void renameToAnotherPrintersNameIsRefused();
    void purgeEmptiesTheQueue();
    void deletePrinterAndConnection();
    void enumJobsReportsDocumentsTimesAndPositions();
    void injectedFailureHitsTheNthCall();
    void lastErrorIsPerThread();
};

void TestWinsimSpooler::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
    QVERIFY(addCloudPrinter(kPrinter, kPort, 8101));
    // Jobs of a paused printer stay queued: these tests look at queues, not at despooling.
    QVERIFY(winsim::pausePrinter(kPrinter.toStdString()));
}

void TestWinsimSpooler::cleanup()
{
    QCOMPARE(winsim::openHandleCount(), 0);
    QCOMPARE(winsim::heapBlockCount(), 0);
}

void TestWinsimSpooler::enumerationsFollowTheTwoCallRules_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("expected");
    QTest::newRow("printers") << "printers" << 2;
    QTest::newRow("ports") << "ports" << 4; // LPT1:, FILE: and two Standard TCP/IP ports
    QTest::newRow("drivers") << "drivers" << 1;
    QTest::newRow("jobs") << "jobs" << 3;
}

void TestWinsimSpooler::enumerationsFollowTheTwoCallRules()
{
    QFETCH(QString, kind);
    QFETCH(int, expected);
    QVERIFY(addCloudPrinter(QStringLiteral("Second"), QStringLiteral("REDadez002"), 8102));
    for (const char *document : { "a", "bb", "测试页" })
        QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string(document), { 1, 2, 3 }));
    HANDLE printer = openPrinter(kPrinter, PRINTER_ACCESS_USE);
    QVERIFY(printer);

    std::map<QString, EnumCase> cases;
    cases["printers"] = { [](BYTE *b, DWORD s, DWORD *n, DWORD *r) {
                             return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, b, s, n, r);
                         },
        sizeof(PRINTER_INFO_2W),
        [](const BYTE *p) {
            const auto r = recordAt<PRINTER_INFO_2W>(p, 0);
            return std::vector<const void *> { r.pPrinterName, r.pPortName, r.pDriverName, r.pShareName,
                r.pPrintProcessor, r.pDatatype };
        } };
    cases["ports"]
        = { [](BYTE *b, DWORD s, DWORD *n, DWORD *r) { return EnumPortsW(nullptr, 2, b, s, n, r); },
              sizeof(PORT_INFO_2W),
              [](const BYTE *p) {
                  const auto r = recordAt<PORT_INFO_2W>(p, 0);
                  return std::vector<const void *> { r.pPortName, r.pMonitorName, r.pDescription };
              } };
    cases["drivers"] = { [](BYTE *b, DWORD s, DWORD *n, DWORD *r) {
                            return EnumPrinterDriversW(nullptr, nullptr, 3, b, s, n, r);
                        },
        sizeof(DRIVER_INFO_3W),
        [](const BYTE *p) {
            const auto r = recordAt<DRIVER_INFO_3W>(p, 0);
            return std::vector<const void *> { r.pName, r.pEnvironment, r.pDriverPath, r.pDataFile,
                r.pConfigFile, r.pHelpFile, r.pDependentFiles };
        } };
    cases["jobs"] = { [printer](BYTE *b, DWORD s, DWORD *n, DWORD *r) {
                         return EnumJobsW(printer, 0, 100, 2, b, s, n, r);
                     },
        sizeof(JOB_INFO_2W),
        [](const BYTE *p) {
            const auto r = recordAt<JOB_INFO_2W>(p, 0);
            return std::vector<const void *> { r.pDocument, r.pPrinterName, r.pUserName, r.pMachineName,
                r.pDriverName, r.pDatatype };
        } };
    const EnumCase &c = cases[kind];

    DWORD needed = 0;
    DWORD returned = 77;
    SetLastError(0);
    QVERIFY(!c.call(nullptr, 0, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    QVERIFY(needed > c.recordSize * DWORD(expected));
    QCOMPARE(returned, DWORD(0));

    const DWORD full = needed;
    std::vector<BYTE> small(full - 1);
    QVERIFY(!c.call(small.data(), full - 1, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    QCOMPARE(needed, full);

    QVERIFY(!c.call(nullptr, 16, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_USER_BUFFER));

    // Exactly the needed size, and a larger buffer: every text lies inside the caller's buffer.
    for (const DWORD size : { full, full + 61 }) {
        std::vector<BYTE> buffer(size);
        QVERIFY(c.call(buffer.data(), size, &needed, &returned));
        QCOMPARE(returned, DWORD(expected));
        for (DWORD i = 0; i < returned; ++i) {
            for (const void *p : c.texts(buffer.data() + i * c.recordSize)) {
                const auto *at = static_cast<const BYTE *>(p);
                QVERIFY(at >= buffer.data() + returned * c.recordSize);
                QVERIFY(at < buffer.data() + size);
            }
        }
    }
    QVERIFY(ClosePrinter(printer));
}

void TestWinsimSpooler::emptyEnumerationsSucceedWithNothing()
{
    HANDLE printer = openPrinter(kPrinter, PRINTER_ACCESS_USE);
    QVERIFY(printer);
    DWORD needed = 99;
    DWORD returned = 99;
    QVERIFY(EnumJobsW(printer, 0, 10, 2, nullptr, 0, &needed, &returned));
    QCOMPARE(needed, DWORD(0));
    QCOMPARE(returned, DWORD(0));
    QVERIFY(ClosePrinter(printer));

    QVERIFY(winsim::reset());
    needed = returned = 99;
    QVERIFY(EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &returned));
    QCOMPARE(needed, DWORD(0));
    QCOMPARE(returned, DWORD(0));
    needed = returned = 99;
    QVERIFY(EnumPrinterDriversW(nullptr, nullptr, 3, nullptr, 0, &needed, &returned));
    QCOMPARE(needed, DWORD(0));
    QCOMPARE(returned, DWORD(0));
}

void TestWinsimSpooler::unsupportedLevelsAreRefused()
{
    DWORD needed = 0;
    DWORD returned = 0;
    QVERIFY(!EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 1, nullptr, 0, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    QVERIFY(!EnumPortsW(nullptr, 1, nullptr, 0, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    std::u16string x86 = u"Windows NT x86";
    QVERIFY(!EnumPrinterDriversW(nullptr, x86.data(), 2, nullptr, 0, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    HANDLE printer = openPrinter(kPrinter, PRINTER_ACCESS_USE);
    QVERIFY(!GetPrinterW(printer, 1, nullptr, 0, &needed));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    QVERIFY(!EnumJobsW(printer, 0, 1, 1, nullptr, 0, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    QVERIFY(ClosePrinter(printer));
}

void TestWinsimSpooler::handlesAndNamesAreCheckedAsOnWindows()
{
    std::u16string unknown = u"No Such Printer";
    HANDLE handle = reinterpret_cast<HANDLE>(0x1234);
    QVERIFY(!OpenPrinterW(unknown.data(), &handle, nullptr));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PRINTER_NAME));
    QVERIFY(!OpenPrinterW(unknown.data(), nullptr, nullptr));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));

    // Names compare without regard to case, also beyond ASCII.
    QVERIFY(winsim::addPrinter("Ärger Drucker", kPort.toStdString(), kModel));
    HANDLE folded = openPrinter(QStringLiteral("äRGER dRUCKER"), PRINTER_ACCESS_USE);
    QVERIFY(folded);
    HANDLE lower = openPrinter(kPrinter.toLower(), PRINTER_ACCESS_USE);
    QVERIFY(lower);
    QVERIFY(ClosePrinter(folded));

    DWORD needed = 0;
    QVERIFY(ClosePrinter(lower));
    QVERIFY(!GetPrinterW(lower, 2, nullptr, 0, &needed));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    QVERIFY(!ClosePrinter(lower));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    std::u16string name = u"CloudId";
    QCOMPARE(GetPrinterDataW(lower, name.data(), nullptr, nullptr, 0, &needed), DWORD(ERROR_INVALID_HANDLE));
    QVERIFY(!EnumJobsW(reinterpret_cast<HANDLE>(0x4321), 0, 1, 2, nullptr, 0, &needed, &needed));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));

    // A configuration channel is no printer handle.
    std::u16string monitor = u",XcvMonitor Standard TCP/IP Port";
    HANDLE xcv = nullptr;
    QVERIFY(OpenPrinterW(monitor.data(), &xcv, nullptr));
    QVERIFY(!GetPrinterW(xcv, 2, nullptr, 0, &needed));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    QVERIFY(ClosePrinter(xcv));
}

void TestWinsimSpooler::getPrinterReportsTheRecordAndQueue()
{
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("one"), { 1 }));
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("two"), { 2 }));
    HANDLE printer = openPrinter(kPrinter, PRINTER_ALL_ACCESS);
    QVERIFY(printer);
    DWORD needed = 0;
    QVERIFY(!GetPrinterW(printer, 2, nullptr, 0, &needed));
    QCOMPARE(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    QVERIFY(needed > sizeof(PRINTER_INFO_2W));
    std::vector<BYTE> buffer(needed);
    QVERIFY(GetPrinterW(printer, 2, buffer.data(), needed, &needed));
    const auto info = recordAt<PRINTER_INFO_2W>(buffer.data(), 0);
    QCOMPARE(text(info.pPrinterName), kPrinter);
    QCOMPARE(text(info.pPortName), kPort);
    QCOMPARE(text(info.pDriverName), QString::fromLatin1(kModel));
    QVERIFY(info.pServerName == nullptr);
    QCOMPARE(info.cJobs, DWORD(2));
    QVERIFY(info.Status & 0x1); // paused
    QVERIFY(ClosePrinter(printer));
}

void TestWinsimSpooler::printerDataKeepsTypeAndBytes()
{
    HANDLE printer = openPrinter(kPrinter, PRINTER_ACCESS_ADMINISTER);
    QVERIFY(printer);
    // The serial as 8-bit text under REG_SZ, and two little-endian bytes under REG_BINARY: winsim
    // keeps what it is given and does not second-guess the type.
    QByteArray serial("0123456789ABCDEF");
    serial.append('\0');
    std::u16string cloudId = u"CloudId";
    std::u16string cloudPort = u"CloudPort";
    QCOMPARE(SetPrinterDataW(printer, cloudId.data(), REG_SZ, reinterpret_cast<BYTE *>(serial.data()),
                 DWORD(serial.size())),
        DWORD(ERROR_SUCCESS));
    BYTE port[2] = { 0xFF, 0xFF };
    QCOMPARE(SetPrinterDataW(printer, cloudPort.data(), REG_BINARY, port, 2), DWORD(ERROR_SUCCESS));

    DWORD type = 0;
    DWORD status = 0;
    QCOMPARE(dataValue(printer, u"CloudId", &type, &status), serial);
    QCOMPARE(status, DWORD(ERROR_SUCCESS));
    QCOMPARE(type, DWORD(REG_SZ));
    QCOMPARE(dataValue(printer, u"cloudport", &type, &status), QByteArray("\xFF\xFF", 2));
    QCOMPARE(type, DWORD(REG_BINARY));

    DWORD needed = 0;
    BYTE one = 0;
    QCOMPARE(GetPrinterDataW(printer, cloudId.data(), &type, &one, 1, &needed), DWORD(ERROR_MORE_DATA));
    QCOMPARE(needed, DWORD(serial.size()));
    std::u16string missing = u"Missing";
    QCOMPARE(
        GetPrinterDataW(printer, missing.data(), &type, nullptr, 0, &needed), DWORD(ERROR_FILE_NOT_FOUND));

    // Overwriting replaces type and bytes together.
    BYTE shorter[1] = { 7 };
    QCOMPARE(SetPrinterDataW(printer, cloudPort.data(), REG_SZ, shorter, 1), DWORD(ERROR_SUCCESS));
    QCOMPARE(dataValue(printer, u"CloudPort", &type, &status), QByteArray("\x07", 1));
    QCOMPARE(type, DWORD(REG_SZ));
    QVERIFY(ClosePrinter(printer));
}

void TestWinsimSpooler::printerDataNeedsAdministerAccess()
{
    HANDLE printer = openPrinter(kPrinter, PRINTER_ACCESS_USE);
    QVERIFY(printer);
    std::u16string name = u"CloudId";
    BYTE data[1] = { 0 };
    QCOMPARE(SetPrinterDataW(printer, name.data(), REG_BINARY, data, 1), DWORD(ERROR_ACCESS_DENIED));
    QVERIFY(!SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    QVERIFY(!DeletePrinter(printer));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    QVERIFY(ClosePrinter(printer));
}

void TestWinsimSpooler::renameKeepsPortDriverDataAndJobs()
{
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("queued"), { 9 }));
    HANDLE printer = openPrinter(kPrinter, PRINTER_ALL_ACCESS);
    std::u16string cloudId = u"CloudId";
    BYTE serial[3] = { 'A', 'B', 0 };
    QCOMPARE(SetPrinterDataW(printer, cloudId.data(), REG_SZ, serial, 3), DWORD(ERROR_SUCCESS));

    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    QVERIFY(GetPrinterW(printer, 2, buffer.data(), needed, &needed));
    auto info = recordAt<PRINTER_INFO_2W>(buffer.data(), 0);
    std::u16string newName = u"Renamed 打印机";
    info.pPrinterName = newName.data();
    QVERIFY(SetPrinterW(printer, 2, reinterpret_cast<BYTE *>(&info), 0));
    QVERIFY(ClosePrinter(printer));

    std::u16string oldName = wide(kPrinter);
    HANDLE gone = nullptr;
    QVERIFY(!OpenPrinterW(oldName.data(), &gone, nullptr));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PRINTER_NAME));
    HANDLE renamed = openPrinter(QStringLiteral("renamed 打印机"), PRINTER_ACCESS_ADMINISTER);
    QVERIFY(renamed);
    GetPrinterW(renamed, 2, nullptr, 0, &needed);
    buffer.resize(needed);
    QVERIFY(GetPrinterW(renamed, 2, buffer.data(), needed, &needed));
    info = recordAt<PRINTER_INFO_2W>(buffer.data(), 0);
    QCOMPARE(text(info.pPrinterName), QStringLiteral("Renamed 打印机"));
    QCOMPARE(text(info.pPortName), kPort);
    QCOMPARE(text(info.pDriverName), QString::fromLatin1(kModel));
    QCOMPARE(info.cJobs, DWORD(1));
    DWORD type = 0;
    DWORD status = 0;
    QCOMPARE(dataValue(renamed, u"CloudId", &type, &status), QByteArray("AB\0", 3));
    QVERIFY(ClosePrinter(renamed));
}

void TestWinsimSpooler::renameToAnotherPrintersNameIsRefused()
{
    QVERIFY(winsim::addPrinter("Other", kPort.toStdString(), kModel));
    HANDLE printer = openPrinter(kPrinter, PRINTER_ALL_ACCESS);
    DWORD needed = 0;
    GetPrinterW(printer, 2, nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    QVERIFY(GetPrinterW(printer, 2, buffer.data(), needed, &needed));
    auto info = recordAt<PRINTER_INFO_2W>(buffer.data(), 0);
    std::u16string taken = u"OTHER";
    info.pPrinterName = taken.data();
    QVERIFY(!SetPrinterW(printer, 2, reinterpret_cast<BYTE *>(&info), 0));
    QCOMPARE(GetLastError(), DWORD(ERROR_PRINTER_ALREADY_EXISTS));
    std::u16string invalid = u"back\\slash";
    info.pPrinterName = invalid.data();
    QVERIFY(!SetPrinterW(printer, 2, reinterpret_cast<BYTE *>(&info), 0));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PRINTER_NAME));
    QVERIFY(ClosePrinter(printer));
}

void TestWinsimSpooler::purgeEmptiesTheQueue()
{
    for (int i = 0; i < 3; ++i)
        QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::nullopt, { BYTE(i) }));
    HANDLE printer = openPrinter(kPrinter, PRINTER_ALL_ACCESS);
    DWORD needed = 0;
    DWORD returned = 0;
    QVERIFY(!EnumJobsW(printer, 0, 10, 2, nullptr, 0, &needed, &returned));
    QVERIFY(SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE));
    QVERIFY(EnumJobsW(printer, 0, 10, 2, nullptr, 0, &needed, &returned));
    QCOMPARE(returned, DWORD(0));
    std::vector<BYTE> buffer(512);
    QVERIFY(GetPrinterW(printer, 2, buffer.data(), DWORD(buffer.size()), &needed));
    QCOMPARE(recordAt<PRINTER_INFO_2W>(buffer.data(), 0).cJobs, DWORD(0));
    QVERIFY(!SetPrinterW(printer, 0, nullptr, 99));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    QVERIFY(ClosePrinter(printer));
}

void TestWinsimSpooler::deletePrinterAndConnection()
{
    std::u16string name = wide(kPrinter);
    // A local printer is no connection; the call fails without touching it.
    QVERIFY(!DeletePrinterConnectionW(name.data()));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PRINTER_NAME));

    HANDLE printer = openPrinter(kPrinter, PRINTER_ALL_ACCESS);
    QVERIFY(printer);
    QVERIFY(DeletePrinter(printer));
    DWORD needed = 0;
    QVERIFY(!GetPrinterW(printer, 2, nullptr, 0, &needed));
    QCOMPARE(GetLastError(), DWORD(ERROR_PRINTER_DELETED));
    QVERIFY(ClosePrinter(printer)); // the handle still has to be closed
    HANDLE again = nullptr;
    QVERIFY(!OpenPrinterW(name.data(), &again, nullptr));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PRINTER_NAME));

    // A printer of the same name starts without the old one's data values.
    QVERIFY(winsim::addPrinter(kPrinter.toStdString(), kPort.toStdString(), kModel));
    HANDLE fresh = openPrinter(kPrinter, PRINTER_ACCESS_USE);
    std::u16string cloudId = u"CloudId";
    QCOMPARE(
        GetPrinterDataW(fresh, cloudId.data(), nullptr, nullptr, 0, &needed), DWORD(ERROR_FILE_NOT_FOUND));
    QVERIFY(ClosePrinter(fresh));
}

void TestWinsimSpooler::enumJobsReportsDocumentsTimesAndPositions()
{
    // 2024-03-05 17:05:09.250 UTC, a Tuesday.
    const int64_t submitted = 1709658309250;
    QVERIFY(winsim::submitJob(
        kPrinter.toStdString(), std::string("报表.xlsx"), std::vector<uint8_t>(1234), submitted));
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::nullopt, { 1, 2 }, submitted + 1000));
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("third"), { 3 }, submitted + 2000));
    HANDLE printer = openPrinter(kPrinter, PRINTER_ACCESS_USE);

    DWORD count = 0;
    const auto all = enumerateAll(
        [printer](BYTE *b, DWORD s, DWORD *n, DWORD *r) { return EnumJobsW(printer, 0, 10, 2, b, s, n, r); },
        &count);
    QCOMPARE(count, DWORD(3));
    const auto first = recordAt<JOB_INFO_2W>(all.data(), 0);
    QCOMPARE(text(first.pDocument), QStringLiteral("报表.xlsx"));
    QCOMPARE(first.Size, DWORD(1234));
    QCOMPARE(first.Position, DWORD(1));
    QCOMPARE(first.Status & JOB_STATUS_PRINTING, DWORD(0));
    QCOMPARE(text(first.pPrinterName), kPrinter);
    QCOMPARE(first.Submitted.wYear, WORD(2024));
    QCOMPARE(first.Submitted.wMonth, WORD(3));
    QCOMPARE(first.Submitted.wDay, WORD(5));
    QCOMPARE(first.Submitted.wDayOfWeek, WORD(2));
    QCOMPARE(first.Submitted.wHour, WORD(17));
    QCOMPARE(first.Submitted.wMinute, WORD(5));
    QCOMPARE(first.Submitted.wSecond, WORD(9));
    QCOMPARE(first.Submitted.wMilliseconds, WORD(250));
    const auto second = recordAt<JOB_INFO_2W>(all.data(), 1);
    QVERIFY(second.pDocument == nullptr);
    QVERIFY(second.JobId > first.JobId);

    // A window of the queue: from position 2 on, at most five.
    const auto tail = enumerateAll(
        [printer](BYTE *b, DWORD s, DWORD *n, DWORD *r) { return EnumJobsW(printer, 1, 5, 2, b, s, n, r); },
        &count);
    QCOMPARE(count, DWORD(2));
    QCOMPARE(recordAt<JOB_INFO_2W>(tail.data(), 0).Position, DWORD(2));
    QCOMPARE(text(recordAt<JOB_INFO_2W>(tail.data(), 1).pDocument), QStringLiteral("third"));
    DWORD needed = 1;
    QVERIFY(EnumJobsW(printer, 3, 5, 2, nullptr, 0, &needed, &count));
    QCOMPARE(count, DWORD(0));
    QCOMPARE(needed, DWORD(0));
    QVERIFY(ClosePrinter(printer));
}

void TestWinsimSpooler::injectedFailureHitsTheNthCall()
{
    const int before = winsim::callCount("EnumPortsW");
    winsim::failCall("EnumPortsW", 2, 1722);
    DWORD needed = 0;
    DWORD returned = 0;
    QVERIFY(!EnumPortsW(nullptr, 2, nullptr, 0, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    std::vector<BYTE> buffer(needed);
    QVERIFY(!EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &returned));
    QCOMPARE(GetLastError(), DWORD(1722));
    QVERIFY(EnumPortsW(nullptr, 2, buffer.data(), DWORD(buffer.size()), &needed, &returned));
    QCOMPARE(winsim::callCount("EnumPortsW"), before + 3);

    // Status calls return the injected code; handle-opening calls fail without a handle.
    HANDLE printer = openPrinter(kPrinter, PRINTER_ACCESS_ADMINISTER);
    winsim::failCall("SetPrinterDataW", 1, ERROR_NOT_ENOUGH_MEMORY);
    std::u16string name = u"CloudPort";
    BYTE data[2] = { 1, 2 };
    QCOMPARE(SetPrinterDataW(printer, name.data(), REG_BINARY, data, 2), DWORD(ERROR_NOT_ENOUGH_MEMORY));
    QCOMPARE(
        GetPrinterDataW(printer, name.data(), nullptr, nullptr, 0, &needed), DWORD(ERROR_FILE_NOT_FOUND));
    QVERIFY(ClosePrinter(printer));
    winsim::failCall("OpenPrinterW", 1, ERROR_ACCESS_DENIED);
    QVERIFY(!openPrinter(kPrinter, PRINTER_ACCESS_USE));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

void TestWinsimSpooler::lastErrorIsPerThread()
{
    SetLastError(5);
    DWORD seenInThread = 0;
    std::thread worker([&] {
        HANDLE handle = nullptr;
        std::u16string unknown = u"Unknown";
        OpenPrinterW(unknown.data(), &handle, nullptr);
        seenInThread = GetLastError();
    });
    worker.join();
    QCOMPARE(seenInThread, DWORD(ERROR_INVALID_PRINTER_NAME));
    QCOMPARE(GetLastError(), DWORD(5));
}

QTEST_GUILESS_MAIN(TestWinsimSpooler)
#include "tst_winsimspooler.moc"
