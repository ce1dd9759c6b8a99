// The Standard TCP/IP monitor's configuration channel, driver deletion and the driver registry values.
#include "winsimtestsupport.h"

#include <QtTest>

#include <vector>

namespace {

const QString kPort = QStringLiteral("REDadez007");

const char *const kDriverKeyX64
    = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows x64\\Drivers\\Version-3\\";
const char *const kDriverKeyX86
    = "SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\Windows NT x86\\Drivers\\Version-3\\";

struct PortQuery
{
    BOOL exchanged = FALSE;
    DWORD error = 0;
    DWORD status = 0;
    DWORD needed = 0;
    PORT_DATA_1 data {};
};

PortQuery queryPort(const QString &port, DWORD outputSize = sizeof(PORT_DATA_1))
{
    PortQuery result;
    std::u16string name = wide(QStringLiteral(",XcvPort ") + port);
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, SERVER_ACCESS_ADMINISTER };
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(name.data(), &xcv, &defaults)) {
        result.error = GetLastError();
        return result;
    }
    CONFIG_INFO_DATA_1 query {};
    query.dwVersion = 1;
    std::vector<BYTE> output(sizeof(PORT_DATA_1));
    result.exchanged = XcvDataW(xcv, u"GetConfigInfo", reinterpret_cast<PBYTE>(&query), sizeof query,
        output.data(), outputSize, &result.needed, &result.status);
    result.error = GetLastError();
    std::memcpy(&result.data, output.data(), sizeof result.data);
    ClosePrinter(xcv);
    return result;
}

QStringList portNames()
{
    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    QStringList names;
    if (!EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count))
        return names;
    for (DWORD i = 0; i < count; ++i) {
        PORT_INFO_2W info;
        std::memcpy(&info, buffer.data() + i * sizeof info, sizeof info);
        names << text(info.pPortName) + QLatin1Char('|') + text(info.pMonitorName);
    }
    return names;
}

QStringList driverNames(const char16_t *environment)
{
    std::u16string env = environment ? environment : u"";
    LPWSTR envArg = environment ? env.data() : nullptr;
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrinterDriversW(nullptr, envArg, 3, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    QStringList names;
    if (needed && !EnumPrinterDriversW(nullptr, envArg, 3, buffer.data(), needed, &needed, &count))
        return names;
    for (DWORD i = 0; i < count && needed; ++i) {
        DRIVER_INFO_3W info;
        std::memcpy(&info, buffer.data() + i * sizeof info, sizeof info);
        names << text(info.pName) + QLatin1Char('|') + text(info.pEnvironment);
    }
    return names;
}

// The "DriverVersion" value as the program reads it: a 260-byte offer into a zeroed buffer.
LSTATUS readDriverVersion(const std::string &keyPath, QString *version, DWORD offered = 260)
{
    std::u16string path = wide(QString::fromStdString(keyPath));
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key);
    if (status != ERROR_SUCCESS)
        return status;
    std::vector<char16_t> buffer(260, 0);
    DWORD size = offered;
    DWORD type = 0;
    status = RegQueryValueExW(
        key, u"DriverVersion", nullptr, &type, reinterpret_cast<BYTE *>(buffer.data()), &size);
    if (status == ERROR_SUCCESS)
        *version = QString::fromUtf16(buffer.data());
    RegCloseKey(key);
    return status;
}

} // namespace

class TestWinsimMonitor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void addThenQueryRoundTrip();
    void configPortChangesTheTarget();
    void monitorRefusals_data();
    void monitorRefusals();
    void portOfAnotherMonitorOpensButCannotExchange();
    void deletePortWaitsUntilNoPrinterUsesIt();
    void driverDeletion();
    void driverEnumerationFollowsTheEnvironment();
    void registryReadsFollowWindowsRules();
};

void TestWinsimMonitor::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
}

void TestWinsimMonitor::cleanup()
{
    QCOMPARE(winsim::openHandleCount(), 0);
}

void TestWinsimMonitor::addThenQueryRoundTrip()
{
    QCOMPARE(portNames(), QStringList({ "LPT1:|Local Port", "FILE:|Local Port" }));
    QCOMPARE(addTcpPort(kPort, QStringLiteral("127.0.0.1"), 8107), DWORD(ERROR_SUCCESS));
    QVERIFY(portNames().contains(kPort + QStringLiteral("|Standard TCP/IP Port")));

    // The query opens the port by name, in any case, and answers with the stored record.
    const PortQuery answer = queryPort(kPort.toLower());
    QVERIFY(answer.exchanged);
    QCOMPARE(answer.status, DWORD(ERROR_SUCCESS));
    QCOMPARE(answer.needed, DWORD(sizeof(PORT_DATA_1)));
    QCOMPARE(text(answer.data.sztHostAddress), QStringLiteral("127.0.0.1"));
    QCOMPARE(answer.data.dwPortNumber, DWORD(8107));
    QCOMPARE(answer.data.dwProtocol, DWORD(PROTOCOL_RAWTCP_TYPE));
    QCOMPARE(text(answer.data.sztPortName), kPort);

    // Too small an answer buffer: the monitor says so and how much it needs.
    const PortQuery small = queryPort(kPort, 100);
    QVERIFY(small.exchanged);
    QCOMPARE(small.status, DWORD(ERROR_INSUFFICIENT_BUFFER));
    QCOMPARE(small.needed, DWORD(sizeof(PORT_DATA_1)));
}

void TestWinsimMonitor::configPortChangesTheTarget()
{
    QCOMPARE(addTcpPort(kPort, QStringLiteral("127.0.0.1"), 8107), DWORD(ERROR_SUCCESS));
    PORT_DATA_1 changed = portData(kPort, QStringLiteral("localhost"), 9100);
    QCOMPARE(monitorExchange(u"ConfigPort", &changed, sizeof changed), DWORD(ERROR_SUCCESS));
    const PortQuery answer = queryPort(kPort);
    QCOMPARE(text(answer.data.sztHostAddress), QStringLiteral("localhost"));
    QCOMPARE(answer.data.dwPortNumber, DWORD(9100));
}

void TestWinsimMonitor::monitorRefusals_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("port");
    QTest::addColumn<int>("size");
    QTest::addColumn<DWORD>("access");
    QTest::addColumn<DWORD>("status");
    const DWORD admin = SERVER_ACCESS_ADMINISTER;
    QTest::newRow("add existing") << "AddPort" << kPort << 964 << admin << DWORD(ERROR_ALREADY_EXISTS);
    QTest::newRow("add existing other case")
        << "AddPort" << kPort.toLower() << 964 << admin << DWORD(ERROR_ALREADY_EXISTS);
    QTest::newRow("add local port name") << "AddPort"
                                         << "LPT1:" << 964 << admin << DWORD(ERROR_ALREADY_EXISTS);
    QTest::newRow("add short record") << "AddPort"
                                      << "NEW1" << 963 << admin << DWORD(ERROR_INVALID_PARAMETER);
    QTest::newRow("add long record") << "AddPort"
                                     << "NEW1" << 965 << admin << DWORD(ERROR_INVALID_PARAMETER);
    QTest::newRow("add without admin") << "AddPort"
                                       << "NEW1" << 964 << DWORD(0) << DWORD(ERROR_ACCESS_DENIED);
    QTest::newRow("config missing") << "ConfigPort"
                                    << "NOPE" << 964 << admin << DWORD(ERROR_UNKNOWN_PORT);
    QTest::newRow("config local port") << "ConfigPort"
                                       << "LPT1:" << 964 << admin << DWORD(ERROR_UNKNOWN_PORT);
    QTest::newRow("delete missing") << "DeletePort"
                                    << "NOPE" << 236 << admin << DWORD(ERROR_UNKNOWN_PORT);
    QTest::newRow("delete wrong size")
        << "DeletePort" << kPort << 964 << admin << DWORD(ERROR_INVALID_PARAMETER);
    QTest::newRow("unknown command") << "RemovePort" << kPort << 236 << admin
                                     << DWORD(ERROR_INVALID_PARAMETER);
}

void TestWinsimMonitor::monitorRefusals()
{
    QFETCH(QString, command);
    QFETCH(QString, port);
    QFETCH(int, size);
    QFETCH(DWORD, access);
    QFETCH(DWORD, status);
    QCOMPARE(addTcpPort(kPort, QStringLiteral("127.0.0.1"), 8107), DWORD(ERROR_SUCCESS));
    const QStringList before = portNames();

    // A buffer large enough for any of the sizes, holding the record the command expects.
    std::vector<BYTE> record(1024, 0);
    if (command == QLatin1String("DeletePort")) {
        DELETE_PORT_DATA_1 data {};
        std::memcpy(data.psztPortName, port.utf16(), size_t(port.size()) * 2);
        data.dwVersion = 1;
        std::memcpy(record.data(), &data, sizeof data);
    } else {
        const PORT_DATA_1 data = portData(port, QStringLiteral("10.0.0.1"), 9100);
        std::memcpy(record.data(), &data, sizeof data);
    }
    std::u16string name = wide(command);
    QCOMPARE(monitorExchange(name.c_str(), record.data(), DWORD(size), access), status);
    QCOMPARE(portNames(), before);
    QCOMPARE(queryPort(kPort).data.dwPortNumber, DWORD(8107));
}

void TestWinsimMonitor::portOfAnotherMonitorOpensButCannotExchange()
{
    const PortQuery local = queryPort(QStringLiteral("LPT1:"));
    QVERIFY(!local.exchanged);
    QCOMPARE(local.error, DWORD(ERROR_NOT_SUPPORTED));
    QCOMPARE(local.data.dwPortNumber, DWORD(0));

    const PortQuery missing = queryPort(QStringLiteral("NOPE"));
    QVERIFY(!missing.exchanged);
    QCOMPARE(missing.error, DWORD(ERROR_INVALID_PRINTER_NAME));

    std::u16string unknownMonitor = u",XcvMonitor Fancy Port";
    HANDLE xcv = nullptr;
    QVERIFY(!OpenPrinterW(unknownMonitor.data(), &xcv, nullptr));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PRINTER_NAME));
}

void TestWinsimMonitor::deletePortWaitsUntilNoPrinterUsesIt()
{
    QVERIFY(addCloudPrinter(QStringLiteral("Uses It"), kPort, 8107));
    DELETE_PORT_DATA_1 data {};
    std::memcpy(data.psztPortName, kPort.utf16(), size_t(kPort.size()) * 2);
    data.dwVersion = 1;
    QCOMPARE(monitorExchange(u"DeletePort", &data, sizeof data), DWORD(ERROR_BUSY));

    HANDLE printer = openPrinter(QStringLiteral("Uses It"), PRINTER_ALL_ACCESS);
    QVERIFY(DeletePrinter(printer));
    QVERIFY(ClosePrinter(printer));
    QCOMPARE(monitorExchange(u"DeletePort", &data, sizeof data), DWORD(ERROR_SUCCESS));
    QVERIFY(!portNames().contains(kPort + QStringLiteral("|Standard TCP/IP Port")));
    QCOMPARE(queryPort(kPort).error, DWORD(ERROR_INVALID_PRINTER_NAME));
}

void TestWinsimMonitor::driverDeletion()
{
    QVERIFY(addCloudPrinter(QStringLiteral("Uses It"), kPort, 8107));
    std::u16string x64 = u"Windows x64";
    std::u16string driver = wide(QString::fromLatin1(kModel));
    QVERIFY(!DeletePrinterDriverExW(nullptr, x64.data(), driver.data(), DPD_DELETE_UNUSED_FILES, 0));
    QCOMPARE(GetLastError(), DWORD(ERROR_PRINTER_DRIVER_IN_USE));
    std::u16string bogus = u"Windows 3.1";
    QVERIFY(!DeletePrinterDriverExW(nullptr, bogus.data(), driver.data(), DPD_DELETE_UNUSED_FILES, 0));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_ENVIRONMENT));
    std::u16string x86 = u"Windows NT x86";
    QVERIFY(!DeletePrinterDriverExW(nullptr, x86.data(), driver.data(), DPD_DELETE_UNUSED_FILES, 0));
    QCOMPARE(GetLastError(), DWORD(ERROR_UNKNOWN_PRINTER_DRIVER));

    HANDLE printer = openPrinter(QStringLiteral("Uses It"), PRINTER_ALL_ACCESS);
    QVERIFY(DeletePrinter(printer));
    QVERIFY(ClosePrinter(printer));
    QVERIFY(DeletePrinterDriverExW(nullptr, x64.data(), driver.data(), DPD_DELETE_UNUSED_FILES, 0));
    QVERIFY(driverNames(nullptr).isEmpty());
    QString version;
    QCOMPARE(readDriverVersion(kDriverKeyX64 + std::string(kModel), &version), LSTATUS(ERROR_FILE_NOT_FOUND));
}

void TestWinsimMonitor::driverEnumerationFollowsTheEnvironment()
{
    QVERIFY(winsim::installDriver(kModel, "Windows NT x86", "2.0"));
    QVERIFY(winsim::installDriver("Other Model", "Windows x64", "1.0"));
    QCOMPARE(driverNames(nullptr), QStringList { "Other Model|Windows x64" });
    QCOMPARE(driverNames(u"windows nt X86"), QStringList { QString::fromLatin1(kModel) + "|Windows NT x86" });
    QCOMPARE(driverNames(u"all").size(), 2);
    std::u16string bogus = u"Windows 3.1";
    DWORD needed = 0;
    DWORD count = 0;
    QVERIFY(!EnumPrinterDriversW(nullptr, bogus.data(), 3, nullptr, 0, &needed, &count));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_ENVIRONMENT));

    // A printer can only use a driver of this machine's own environment.
    QCOMPARE(addTcpPort(kPort, QStringLiteral("127.0.0.1"), 8107), DWORD(ERROR_SUCCESS));
    std::string error;
    QVERIFY(!winsim::addPrinter("x86 only", kPort.toStdString(), kModel, &error));
    QVERIFY(!error.empty());
}

void TestWinsimMonitor::registryReadsFollowWindowsRules()
{
    // A driver installed for "Windows NT x86" only: the x64 key is missing, the x86 key has it.
    QVERIFY(winsim::installDriver(kModel, "Windows NT x86", "3.1.4.1"));
    QString version;
    QCOMPARE(readDriverVersion(kDriverKeyX64 + std::string(kModel), &version), LSTATUS(ERROR_FILE_NOT_FOUND));
    QCOMPARE(readDriverVersion(kDriverKeyX86 + std::string(kModel), &version), LSTATUS(ERROR_SUCCESS));
    QCOMPARE(version, QStringLiteral("3.1.4.1"));
    // Key names compare without regard to case.
    QCOMPARE(readDriverVersion(
                 QString::fromLatin1(kDriverKeyX86).toUpper().toStdString() + "varn vn-210k", &version),
        LSTATUS(ERROR_SUCCESS));

    // An offered size below the value's size: ERROR_MORE_DATA with the size needed.
    QVERIFY(winsim::installDriver(kModel, "Windows NT x86", std::string(130, '9')));
    QCOMPARE(readDriverVersion(kDriverKeyX86 + std::string(kModel), &version), LSTATUS(ERROR_MORE_DATA));

    std::u16string path = wide(QString::fromLatin1(kDriverKeyX86) + QString::fromLatin1(kModel));
    HKEY key = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), LSTATUS(ERROR_SUCCESS));
    DWORD size = 0;
    DWORD type = 0;
    QCOMPARE(RegQueryValueExW(key, u"DriverVersion", nullptr, &type, nullptr, &size), LSTATUS(ERROR_SUCCESS));
    QCOMPARE(size, DWORD(131 * 2));
    QCOMPARE(type, DWORD(REG_SZ));
    QCOMPARE(
        RegQueryValueExW(key, u"NoSuchValue", nullptr, &type, nullptr, &size), LSTATUS(ERROR_FILE_NOT_FOUND));
    QCOMPARE(RegCloseKey(key), LSTATUS(ERROR_SUCCESS));
    QCOMPARE(RegCloseKey(key), LSTATUS(ERROR_INVALID_HANDLE));
    QCOMPARE(RegQueryValueExW(key, u"DriverVersion", nullptr, &type, nullptr, &size),
        LSTATUS(ERROR_INVALID_HANDLE));

    // A key opened relative to another key.
    std::u16string environments = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments";
    HKEY parent = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, environments.c_str(), 0, KEY_READ, &parent),
        LSTATUS(ERROR_SUCCESS));
    std::u16string relative = u"Windows NT x86\\Drivers\\Version-3\\Varn VN-210K";
    HKEY child = nullptr;
    QCOMPARE(RegOpenKeyExW(parent, relative.c_str(), 0, KEY_READ, &child), LSTATUS(ERROR_SUCCESS));
    QCOMPARE(RegCloseKey(child), LSTATUS(ERROR_SUCCESS));
    QCOMPARE(RegCloseKey(parent), LSTATUS(ERROR_SUCCESS));
}

QTEST_GUILESS_MAIN(TestWinsimMonitor)
#include "tst_winsimmonitor.moc"
