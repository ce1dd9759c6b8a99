#include <QByteArray>
#include <QtTest>

#include <cstring>
#include <string>
#include <vector>

#include "quayportexports.h"
#include "win32.h"
#include "winsim/winsimcontrol.h"

namespace {

std::u16string u16(const QString &text)
{
    return text.toStdU16String();
}

DWORD readDword(const QByteArray &bytes, int offset)
{
    DWORD value = 0;
    std::memcpy(&value, bytes.constData() + offset, sizeof(value));
    return value;
}

QString readText(const QByteArray &bytes, int offset, int units)
{
    const auto *text = reinterpret_cast<const char16_t *>(bytes.constData() + offset);
    int length = 0;
    while (length < units && text[length] != 0)
        ++length;
    return QString::fromUtf16(text, length);
}

// The record the monitor keeps for a port, read straight from the spooler.
QByteArray storedPortRecord(const QString &portName)
{
    std::u16string name = u16(QStringLiteral(",XcvPort ") + portName);
    PRINTER_DEFAULTSW defaults { nullptr, nullptr, SERVER_ACCESS_ADMINISTER };
    HANDLE xcv = nullptr;
    if (!OpenPrinterW(name.data(), &xcv, &defaults))
        return QByteArray();
    CONFIG_INFO_DATA_1 query {};
    query.dwVersion = 1;
    QByteArray record(sizeof(PORT_DATA_1), '\0');
    DWORD needed = 0;
    DWORD status = 0;
    const BOOL ok = XcvDataW(xcv, u"GetConfigInfo", reinterpret_cast<PBYTE>(&query), sizeof(query),
        reinterpret_cast<PBYTE>(record.data()), DWORD(record.size()), &needed, &status);
    ClosePrinter(xcv);
    return ok && status == 0 ? record : QByteArray();
}

QStringList portNames()
{
    DWORD needed = 0;
    DWORD count = 0;
    EnumPortsW(nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    QStringList names;
    if (needed == 0 || !EnumPortsW(nullptr, 2, buffer.data(), needed, &needed, &count))
        return names;
    const auto *ports = reinterpret_cast<const PORT_INFO_2W *>(buffer.data());
    for (DWORD i = 0; i < count; ++i)
        names.append(QString::fromUtf16(ports[i].pPortName));
    return names;
}

// The service manager and one service, opened by the caller as StopDependentServices expects.
struct ServiceHandles
{
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;

    explicit ServiceHandles(const char16_t *name)
    {
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        if (manager != nullptr)
            service = OpenServiceW(manager, name, SERVICE_ALL_ACCESS);
    }
    ~ServiceHandles()
    {
        if (service != nullptr)
            CloseServiceHandle(service);
        if (manager != nullptr)
            CloseServiceHandle(manager);
    }
};

DWORD serviceState(const char16_t *name)
{
    ServiceHandles handles(name);
    SERVICE_STATUS_PROCESS status {};
    DWORD needed = 0;
    if (handles.service == nullptr
        || !QueryServiceStatusEx(handles.service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status),
            sizeof(status), &needed))
        return 0;
    return status.dwCurrentState;
}

bool addService(const std::string &name, std::vector<std::string> dependsOn, bool running, int64_t stopMs,
    uint32_t waitHintMs)
{
    winsim::ServiceFixture fixture;
    fixture.name = name;
    fixture.dependsOn = std::move(dependsOn);
    fixture.running = running;
    fixture.stopMs = stopMs;
    fixture.waitHintMs = waitHintMs;
    return winsim::addService(fixture);
}

const char16_t kHost[] = u"127.0.0.1";

} // namespace

class TstQuayport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void addThenQueryReturnsWhatWasSent_data();
    void addThenQueryReturnsWhatWasSent();
    void addSendsTheWholeRecord();
    void configChangesAnExistingPortOnly();
    void deleteRemovesThePort();
    void refusalsLeaveTheCallersOutsAlone_data();
    void refusalsLeaveTheCallersOutsAlone();
    void refusalKeepsTheExchangesLastError();
    void namesTooLongForTheirFieldsAreRefusedUnopened_data();
    void namesTooLongForTheirFieldsAreRefusedUnopened();
    void deletePrinterDriverForOneEnvironment();

    void stopWithoutActiveDependentsEnumeratesOnce();
    void stopStopsRunningDependents();
    void stopSkipsDependentsAlreadyStopping();
    void stopFailuresFreeAndClose_data();
    void stopFailuresFreeAndClose();

private:
    QuayportExports m_q;
};

void TstQuayport::initTestCase()
{
    const QString error = m_q.load();
    QVERIFY2(error.isEmpty(), qPrintable(error));
}

void TstQuayport::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
}

void TstQuayport::cleanup()
{
    QCOMPARE(winsim::openHandleCount(), 0);
    QCOMPARE(winsim::heapBlockCount(), 0);
}

void TstQuayport::addThenQueryReturnsWhatWasSent_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("host");
    QTest::addColumn<uint>("number");

    QTest::newRow("first cloud port") << "REDadez001"
                                      << "127.0.0.1" << 8101u;
    QTest::newRow("highest number") << "REDadez1000"
                                    << "127.0.0.1" << 65535u;
    QTest::newRow("widest fields") << QString(54, QLatin1Char('P')) << QString(48, QLatin1Char('h')) << 1u;
    QTest::newRow("non-latin name") << QStringLiteral("端口-7") << "printer.example" << 9100u;
}

void TstQuayport::addThenQueryReturnsWhatWasSent()
{
    QFETCH(QString, portName);
    QFETCH(QString, host);
    QFETCH(uint, number);

    QCOMPARE(m_q.add(u16(portName).c_str(), u16(host).c_str(), number), PortResultOk);
    QVERIFY(portNames().contains(portName));

    std::vector<char16_t> buffer(QuayportHostBufferUnits, u'#');
    DWORD got = 0;
    QCOMPARE(m_q.query(u16(portName).c_str(), buffer.data(), &got), PortResultOk);
    QCOMPARE(QString::fromUtf16(buffer.data()), host);
    QCOMPARE(got, DWORD(number));
}

void TstQuayport::addSendsTheWholeRecord()
{
    QCOMPARE(m_q.add(u"REDadez002", kHost, 8102), PortResultOk);
    const QByteArray record = storedPortRecord(QStringLiteral("REDadez002"));
    QCOMPARE(record.size(), 964);

    QCOMPARE(readText(record, 0, 64), QStringLiteral("REDadez002"));
    QCOMPARE(readDword(record, 128), DWORD(1)); // version
    QCOMPARE(readDword(record, 132), DWORD(1)); // raw TCP
    QCOMPARE(readDword(record, 136), DWORD(964)); // size
    QCOMPARE(readDword(record, 140), DWORD(0));
    QCOMPARE(readText(record, 144, 49), QStringLiteral("127.0.0.1"));
    QCOMPARE(readDword(record, 308), DWORD(1)); // double spool
    QCOMPARE(readDword(record, 952), DWORD(8102));
    QCOMPARE(readDword(record, 956), DWORD(0)); // SNMP off
    QCOMPARE(readDword(record, 960), DWORD(0));

    // Everything not set is zero: what is left of the text fields, community, queue, IP, reserved.
    QByteArray rest = record;
    const auto clearField
        = [&rest](int offset, int size) { rest.replace(offset, size, QByteArray(size, '\0')); };
    clearField(0, 2 * 11); // name and its NUL
    clearField(128, 16); // version, protocol, size, reserved
    clearField(144, 2 * 10); // host and its NUL
    clearField(308, 4);
    clearField(952, 4);
    QCOMPARE(rest.toHex(), QByteArray(964, '\0').toHex());
}

void TstQuayport::configChangesAnExistingPortOnly()
{
    QCOMPARE(m_q.add(u"REDadez003", kHost, 8103), PortResultOk);
    QCOMPARE(m_q.config(u"REDadez003", u"10.1.2.3", 9100), PortResultOk);

    std::vector<char16_t> buffer(QuayportHostBufferUnits, 0);
    DWORD number = 0;
    QCOMPARE(m_q.query(u"REDadez003", buffer.data(), &number), PortResultOk);
    QCOMPARE(QString::fromUtf16(buffer.data()), QStringLiteral("10.1.2.3"));
    QCOMPARE(number, DWORD(9100));

    // The monitor refuses to configure a port it does not have; the library only passes that on.
    QCOMPARE(m_q.config(u"REDadez999", kHost, 8999), PortResultRefused);
    QVERIFY(!portNames().contains(QStringLiteral("REDadez999")));
}

void TstQuayport::deleteRemovesThePort()
{
    QCOMPARE(m_q.add(u"REDadez004", kHost, 8104), PortResultOk);
    QCOMPARE(m_q.remove(u"REDadez004"), PortResultOk);
    QVERIFY(!portNames().contains(QStringLiteral("REDadez004")));
    QCOMPARE(m_q.remove(u"REDadez004"), PortResultRefused);

    // A port that a printer uses stays.
    QCOMPARE(m_q.add(u"REDadez005", kHost, 8105), PortResultOk);
    QVERIFY(winsim::installDriver("Varn VN-210K", "Windows x64", "1.22.5.3"));
    QVERIFY(winsim::addPrinter("Office", "REDadez005", "Varn VN-210K"));
    QCOMPARE(m_q.remove(u"REDadez005"), PortResultRefused);
    QVERIFY(portNames().contains(QStringLiteral("REDadez005")));
}

void TstQuayport::refusalsLeaveTheCallersOutsAlone_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("failingCall");
    QTest::addColumn<int>("expected");

    QTest::newRow("no such port") << "REDadez404" << QString() << int(PortResultOpenFailed);
    QTest::newRow("not a TCP/IP port") << "LPT1:" << QString() << int(PortResultExchangeFailed);
    QTest::newRow("open refused") << "REDadez010"
                                  << "OpenPrinterW" << int(PortResultOpenFailed);
    QTest::newRow("exchange failed") << "REDadez010"
                                     << "XcvDataW" << int(PortResultExchangeFailed);
}

void TstQuayport::refusalsLeaveTheCallersOutsAlone()
{
    QFETCH(QString, portName);
    QFETCH(QString, failingCall);
    QFETCH(int, expected);

    QCOMPARE(m_q.add(u"REDadez010", kHost, 8110), PortResultOk);
    if (!failingCall.isEmpty())
        winsim::failCall(failingCall.toStdString(), 1, ERROR_ACCESS_DENIED);

    std::vector<char16_t> buffer(QuayportHostBufferUnits, u'#');
    buffer.back() = 0;
    const std::vector<char16_t> before = buffer;
    DWORD number = 0xDEADBEEF;
    QCOMPARE(m_q.query(u16(portName).c_str(), buffer.data(), &number), expected);
    QVERIFY(buffer == before);
    QCOMPARE(number, DWORD(0xDEADBEEF));
}

void TstQuayport::refusalKeepsTheExchangesLastError()
{
    QCOMPARE(m_q.add(u"REDadez011", kHost, 8111), PortResultOk);
    const DWORD distinct = 4242;
    winsim::failCall("XcvDataW", 1, distinct);
    QCOMPARE(m_q.add(u"REDadez012", kHost, 8112), PortResultExchangeFailed);
    QCOMPARE(GetLastError(), distinct);

    // A monitor refusal is a successful exchange with a non-zero status.
    QCOMPARE(m_q.add(u"REDadez011", kHost, 8111), PortResultRefused);
    QCOMPARE(winsim::callCount("ClosePrinter"), winsim::callCount("OpenPrinterW"));
}

void TstQuayport::namesTooLongForTheirFieldsAreRefusedUnopened_data()
{
    QTest::addColumn<int>("call");
    QTest::addColumn<QString>("portName");
    QTest::addColumn<QString>("host");

    const QString name63(63, QLatin1Char('n'));
    QTest::newRow("add, name of 64") << 0 << QString(64, QLatin1Char('n')) << "127.0.0.1";
    QTest::newRow("add, host of 49") << 0 << name63 << QString(49, QLatin1Char('h'));
    QTest::newRow("config, name of 64") << 1 << QString(64, QLatin1Char('n')) << "127.0.0.1";
    QTest::newRow("delete, name of 64") << 2 << QString(64, QLatin1Char('n')) << QString();
    QTest::newRow("query, name of 55") << 3 << QString(55, QLatin1Char('n')) << QString();
}

void TstQuayport::namesTooLongForTheirFieldsAreRefusedUnopened()
{
    QFETCH(int, call);
    QFETCH(QString, portName);
    QFETCH(QString, host);

    const std::u16string name = u16(portName);
    const std::u16string address = u16(host);
    std::vector<char16_t> buffer(QuayportHostBufferUnits, 0);
    DWORD number = 7;
    PortResult result = -1;
    switch (call) {
    case 0:
        result = m_q.add(name.c_str(), address.c_str(), 8100);
        break;
    case 1:
        result = m_q.config(name.c_str(), address.c_str(), 8100);
        break;
    case 2:
        result = m_q.remove(name.c_str());
        break;
    default:
        result = m_q.query(name.c_str(), buffer.data(), &number);
        break;
    }
    QCOMPARE(result, PortResultOpenFailed);
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    QCOMPARE(winsim::callCount("OpenPrinterW"), 0);
    QCOMPARE(number, DWORD(7));
}

void TstQuayport::deletePrinterDriverForOneEnvironment()
{
    QVERIFY(winsim::installDriver("Varn VN-210K", "Windows NT x86", "1.22.5.3"));

    SetLastError(0);
    QCOMPARE(m_q.deleteDriver(u"Varn VN-210K", u"Windows x64"), FALSE);
    QCOMPARE(GetLastError(), DWORD(ERROR_UNKNOWN_PRINTER_DRIVER));

    QVERIFY(m_q.deleteDriver(u"Varn VN-210K", u"Windows NT x86") != FALSE);
    QCOMPARE(m_q.deleteDriver(u"Varn VN-210K", u"Windows NT x86"), FALSE);
}

void TstQuayport::stopWithoutActiveDependentsEnumeratesOnce()
{
    QVERIFY(addService("Spooler", {}, true, 0, 0));
    QVERIFY(addService("Idle", { "Spooler" }, false, 0, 0));
    ServiceHandles handles(u"Spooler");
    QVERIFY(handles.service != nullptr);

    QCOMPARE(m_q.stopDependents(handles.manager, handles.service), TRUE);
    QCOMPARE(winsim::callCount("EnumDependentServicesW"), 1);
    QCOMPARE(winsim::callCount("HeapAlloc"), 0);
    QCOMPARE(winsim::callCount("OpenServiceW"), 1); // the test's own
    QCOMPARE(serviceState(u"Spooler"), DWORD(SERVICE_RUNNING));
}

void TstQuayport::stopStopsRunningDependents()
{
    QVERIFY(addService("Spooler", {}, true, 0, 0));
    QVERIFY(addService("Fax", { "Spooler" }, true, 300, 50));
    QVERIFY(addService("Scan", { "Spooler" }, true, 0, 0));
    QVERIFY(addService("Idle", { "Spooler" }, false, 0, 0));
    {
        ServiceHandles handles(u"Spooler");
        QVERIFY(handles.service != nullptr);
        QCOMPARE(m_q.stopDependents(handles.manager, handles.service), TRUE);

        // The caller's handles are neither closed nor spent.
        QCOMPARE(winsim::openHandleCount(), 2);
        SERVICE_STATUS_PROCESS status {};
        DWORD needed = 0;
        QVERIFY(QueryServiceStatusEx(handles.service, SC_STATUS_PROCESS_INFO,
            reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed));
        QCOMPARE(status.dwCurrentState, DWORD(SERVICE_RUNNING));
    }
    QCOMPARE(serviceState(u"Fax"), DWORD(SERVICE_STOPPED));
    QCOMPARE(serviceState(u"Scan"), DWORD(SERVICE_STOPPED));
    QCOMPARE(winsim::callCount("ControlService"), 2);
}

void TstQuayport::stopSkipsDependentsAlreadyStopping()
{
    QVERIFY(addService("Spooler", {}, true, 0, 0));
    // Never finishes stopping: waiting on it would take the whole budget and fail the call.
    QVERIFY(addService("Stuck", { "Spooler" }, true, -1, 10000));
    QVERIFY(addService("Scan", { "Spooler" }, true, 0, 0));
    {
        ServiceHandles stuck(u"Stuck");
        SERVICE_STATUS status {};
        QVERIFY(ControlService(stuck.service, SERVICE_CONTROL_STOP, &status));
        QCOMPARE(status.dwCurrentState, DWORD(SERVICE_STOP_PENDING));
    }
    const int controlsBefore = winsim::callCount("ControlService");

    ServiceHandles handles(u"Spooler");
    QCOMPARE(m_q.stopDependents(handles.manager, handles.service), TRUE);
    QCOMPARE(winsim::callCount("ControlService") - controlsBefore, 1);
    QCOMPARE(serviceState(u"Stuck"), DWORD(SERVICE_STOP_PENDING));
    QCOMPARE(serviceState(u"Scan"), DWORD(SERVICE_STOPPED));
}

void TstQuayport::stopFailuresFreeAndClose_data()
{
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("nth");

    QTest::newRow("size query") << "EnumDependentServicesW" << 1;
    QTest::newRow("allocation") << "HeapAlloc" << 1;
    QTest::newRow("enumeration") << "EnumDependentServicesW" << 2;
    QTest::newRow("open first") << "OpenServiceW" << 1;
    QTest::newRow("open second") << "OpenServiceW" << 2;
    QTest::newRow("first status") << "QueryServiceStatusEx" << 1;
    QTest::newRow("stop request") << "ControlService" << 1;
    QTest::newRow("status while stopping") << "QueryServiceStatusEx" << 2;
}

void TstQuayport::stopFailuresFreeAndClose()
{
    QFETCH(QString, call);
    QFETCH(int, nth);

    QVERIFY(addService("Spooler", {}, true, 0, 0));
    QVERIFY(addService("Fax", { "Spooler" }, true, 200, 20));
    QVERIFY(addService("Scan", { "Spooler" }, true, 0, 0));
    ServiceHandles handles(u"Spooler");
    QVERIFY(handles.service != nullptr);

    winsim::failCall(call.toStdString(), nth, ERROR_ACCESS_DENIED);
    QCOMPARE(m_q.stopDependents(handles.manager, handles.service), FALSE);
    QCOMPARE(winsim::heapBlockCount(), 0);
    QCOMPARE(winsim::openHandleCount(), 2);
    if (call == QLatin1String("EnumDependentServicesW") && nth == 1)
        QCOMPARE(winsim::callCount("HeapAlloc"), 0);
}

QTEST_GUILESS_MAIN(TstQuayport)
#include "tst_quayport.moc"
