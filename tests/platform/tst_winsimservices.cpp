// The service manager calls, the tick count, Sleep, threads' priorities and the process heap.
#include "winsimtestsupport.h"

#include <QtTest>

#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr DWORD kStopperAccess = SERVICE_STOP | SERVICE_QUERY_STATUS | SERVICE_ENUMERATE_DEPENDENTS;

SC_HANDLE openService(SC_HANDLE manager, const char16_t *name, DWORD access = kStopperAccess)
{
    return OpenServiceW(manager, name, access);
}

SERVICE_STATUS_PROCESS statusOf(SC_HANDLE service)
{
    SERVICE_STATUS_PROCESS status {};
    DWORD needed = 0;
    QueryServiceStatusEx(
        service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE *>(&status), sizeof status, &needed);
    return status;
}

QStringList dependentNames(SC_HANDLE service, DWORD state)
{
    DWORD needed = 0;
    DWORD count = 0;
    if (EnumDependentServicesW(service, state, nullptr, 0, &needed, &count))
        return QStringList();
    std::vector<BYTE> buffer(needed);
    auto *records = reinterpret_cast<LPENUM_SERVICE_STATUSW>(buffer.data());
    QStringList names;
    if (!EnumDependentServicesW(service, state, records, needed, &needed, &count))
        return { QStringLiteral("failed") };
    for (DWORD i = 0; i < count; ++i) {
        ENUM_SERVICE_STATUSW entry;
        std::memcpy(&entry, buffer.data() + i * sizeof entry, sizeof entry);
        const auto *at = reinterpret_cast<const BYTE *>(entry.lpServiceName);
        if (at < buffer.data() || at >= buffer.data() + buffer.size())
            return { QStringLiteral("outside") };
        names << text(entry.lpServiceName);
    }
    return names;
}

} // namespace

class TestWinsimServices : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void everyMachineRunsTheSpooler();

    void serviceWithoutDependentsAnswersAnEmptyBuffer();
    void dependentsComeInStopOrder();
    void statusQueryNeedsItsSize();
    void stopTakesItsTimeAndReportsTheWaitHint();
    void stopIsRefusedAsWindowsRefusesIt();
    void openAndCloseErrors();
    void tickCountAndSleep();
    void raisedThreadStartsOthersAtNormal();
    void processHeapKnowsItsBlocks();

private:
    SC_HANDLE m_manager = nullptr;
};

void TestWinsimServices::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
    // The print spooler with a chain of dependents, one of them already stopped.
    QVERIFY(winsim::addService({ "Spooler", "Print Spooler", {}, true, true, 0, 0 }));
    QVERIFY(winsim::addService({ "Fax", "", { "Spooler" }, true, true, 0, 0 }));
    QVERIFY(winsim::addService({ "PrintNotify", "", { "Spooler" }, true, true, 300, 100 }));
    QVERIFY(winsim::addService({ "FaxMonitor", "", { "Fax" }, true, true, 0, 0 }));
    QVERIFY(winsim::addService({ "OldQueue", "", { "Spooler" }, false, true, 0, 0 }));
    QVERIFY(winsim::addService({ "Lonely", "", {}, true, true, 0, 0 }));
    m_manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    QVERIFY(m_manager);
}

void TestWinsimServices::cleanup()
{
    if (m_manager)
        QVERIFY(CloseServiceHandle(m_manager));
    m_manager = nullptr;
    QCOMPARE(winsim::openHandleCount(), 0);
    QCOMPARE(winsim::heapBlockCount(), 0);
}

void TestWinsimServices::everyMachineRunsTheSpooler()
{
    // A fresh machine: the spooler runs, in the process that despools, with nothing depending on it.
    QVERIFY(winsim::reset()); // closes the handles init opened
    m_manager = nullptr;
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE spooler = openService(manager, u"Spooler");
    QVERIFY(spooler);
    const SERVICE_STATUS_PROCESS status = statusOf(spooler);
    QCOMPARE(status.dwCurrentState, DWORD(SERVICE_RUNNING));
    QVERIFY(status.dwProcessId != 0 && status.dwProcessId != GetCurrentProcessId());
    QVERIFY(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(status.dwProcessId)).endsWith("/winsim"));
    QCOMPARE(dependentNames(spooler, SERVICE_STATE_ALL), QStringList());
    QVERIFY(CloseServiceHandle(spooler));

    // A test may define it anew once, with dependents; it stays the spooler's process.
    QVERIFY(winsim::addService({ "Spooler", "Print Spooler", {}, true, true, 200, 50 }));
    QVERIFY(winsim::addService({ "Fax", "", { "Spooler" }, true, true, 0, 0 }));
    std::string error;
    QVERIFY(!winsim::addService({ "SPOOLER", "", {}, true, true, 0, 0 }, &error));
    QVERIFY(error.find("exists") != std::string::npos);
    spooler = openService(manager, u"Spooler");
    QCOMPARE(dependentNames(spooler, SERVICE_ACTIVE), QStringList({ "Fax" }));
    const DWORD redefined = statusOf(spooler).dwProcessId;
    QVERIFY(QFile::symLinkTarget(QStringLiteral("/proc/%1/exe").arg(redefined)).endsWith("/winsim"));
    QVERIFY(CloseServiceHandle(spooler));
    QVERIFY(CloseServiceHandle(manager));

    // Another process sees the redefined one.
    QProcess tool;
    tool.start(QStringLiteral("winsim"), { QStringLiteral("services") });
    QVERIFY(tool.waitForFinished(10000));
    QVERIFY(tool.readAllStandardOutput().startsWith("Spooler\trunning\t\nFax\trunning\tSpooler\n"));
}

void TestWinsimServices::serviceWithoutDependentsAnswersAnEmptyBuffer()
{
    SC_HANDLE lonely = openService(m_manager, u"Lonely");
    DWORD needed = 99;
    DWORD count = 99;
    QVERIFY(EnumDependentServicesW(lonely, SERVICE_ACTIVE, nullptr, 0, &needed, &count));
    QCOMPARE(count, DWORD(0));
    QVERIFY(CloseServiceHandle(lonely));

    SC_HANDLE spooler = openService(m_manager, u"spooler");
    QVERIFY(!EnumDependentServicesW(spooler, SERVICE_ACTIVE, nullptr, 0, &needed, &count));
    QCOMPARE(GetLastError(), DWORD(ERROR_MORE_DATA));
    QVERIFY(needed > 3 * sizeof(ENUM_SERVICE_STATUSW));
    QVERIFY(CloseServiceHandle(spooler));
}

void TestWinsimServices::dependentsComeInStopOrder()
{
    SC_HANDLE spooler = openService(m_manager, u"Spooler");
    // Indirect dependents too, each before what it depends on (the reverse of the start order);
    // the stopped one only with SERVICE_INACTIVE.
    QCOMPARE(dependentNames(spooler, SERVICE_ACTIVE), QStringList({ "FaxMonitor", "PrintNotify", "Fax" }));
    QCOMPARE(dependentNames(spooler, SERVICE_INACTIVE), QStringList({ "OldQueue" }));
    QCOMPARE(dependentNames(spooler, SERVICE_STATE_ALL).size(), 4);
    DWORD needed = 0;
    DWORD count = 0;
    QVERIFY(!EnumDependentServicesW(spooler, 0, nullptr, 0, &needed, &count));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_PARAMETER));
    QVERIFY(CloseServiceHandle(spooler));

    SC_HANDLE queryOnly = openService(m_manager, u"Spooler", SERVICE_QUERY_STATUS);
    QVERIFY(!EnumDependentServicesW(queryOnly, SERVICE_ACTIVE, nullptr, 0, &needed, &count));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    QVERIFY(CloseServiceHandle(queryOnly));
}

void TestWinsimServices::statusQueryNeedsItsSize()
{
    SC_HANDLE fax = openService(m_manager, u"Fax");
    std::vector<BYTE> buffer(64);
    DWORD needed = 0;
    QVERIFY(!QueryServiceStatusEx(fax, SC_STATUS_PROCESS_INFO, buffer.data(), 35, &needed));
    QCOMPARE(GetLastError(), DWORD(ERROR_INSUFFICIENT_BUFFER));
    QCOMPARE(needed, DWORD(36));
    QVERIFY(QueryServiceStatusEx(fax, SC_STATUS_PROCESS_INFO, buffer.data(), 36, &needed));
    SERVICE_STATUS_PROCESS status;
    std::memcpy(&status, buffer.data(), sizeof status);
    QCOMPARE(status.dwCurrentState, DWORD(SERVICE_RUNNING));
    QCOMPARE(status.dwControlsAccepted & SERVICE_ACCEPT_STOP, DWORD(SERVICE_ACCEPT_STOP));
    QVERIFY(status.dwProcessId != 0);
    QVERIFY(!QueryServiceStatusEx(fax, SC_STATUS_TYPE(1), buffer.data(), 36, &needed));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_LEVEL));
    QVERIFY(CloseServiceHandle(fax));
}

void TestWinsimServices::stopTakesItsTimeAndReportsTheWaitHint()
{
    SC_HANDLE notify = openService(m_manager, u"PrintNotify");
    SERVICE_STATUS reported {};
    QVERIFY(ControlService(notify, SERVICE_CONTROL_STOP, &reported));
    QCOMPARE(reported.dwCurrentState, DWORD(SERVICE_STOP_PENDING));
    QCOMPARE(reported.dwWaitHint, DWORD(100));
    QVERIFY(reported.dwCheckPoint >= 1);
    // While the stop is pending a second stop cannot be taken.
    if (statusOf(notify).dwCurrentState == SERVICE_STOP_PENDING) {
        QVERIFY(!ControlService(notify, SERVICE_CONTROL_STOP, &reported));
        QCOMPARE(GetLastError(), DWORD(ERROR_SERVICE_CANNOT_ACCEPT_CTRL));
    }
    QTRY_COMPARE_WITH_TIMEOUT(statusOf(notify).dwCurrentState, DWORD(SERVICE_STOPPED), 5000);
    QCOMPARE(statusOf(notify).dwProcessId, DWORD(0));
    QVERIFY(!ControlService(notify, SERVICE_CONTROL_STOP, &reported));
    QCOMPARE(GetLastError(), DWORD(ERROR_SERVICE_NOT_ACTIVE));
    QCOMPARE(reported.dwCurrentState, DWORD(SERVICE_STOPPED));
    QVERIFY(CloseServiceHandle(notify));

    // Another process sees the same service stopped.
    QProcess tool;
    tool.start(QStringLiteral("winsim"), { QStringLiteral("services") });
    QVERIFY(tool.waitForFinished(10000));
    QVERIFY(tool.readAllStandardOutput().contains("PrintNotify\tstopped\tSpooler\n"));
}

void TestWinsimServices::stopIsRefusedAsWindowsRefusesIt()
{
    SERVICE_STATUS reported {};
    SC_HANDLE fax = openService(m_manager, u"Fax");
    QVERIFY(!ControlService(fax, SERVICE_CONTROL_STOP, &reported));
    QCOMPARE(GetLastError(), DWORD(ERROR_DEPENDENT_SERVICES_RUNNING));
    QCOMPARE(statusOf(fax).dwCurrentState, DWORD(SERVICE_RUNNING));

    SC_HANDLE monitor = openService(m_manager, u"FaxMonitor");
    QVERIFY(ControlService(monitor, SERVICE_CONTROL_STOP, &reported));
    QCOMPARE(reported.dwCurrentState, DWORD(SERVICE_STOPPED)); // a stop that takes no time
    QVERIFY(ControlService(fax, SERVICE_CONTROL_STOP, &reported));
    QVERIFY(CloseServiceHandle(monitor));
    QVERIFY(CloseServiceHandle(fax));

    SC_HANDLE noStopRight = openService(m_manager, u"Lonely", SERVICE_QUERY_STATUS);
    QVERIFY(!ControlService(noStopRight, SERVICE_CONTROL_STOP, &reported));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
    QVERIFY(CloseServiceHandle(noStopRight));

    QVERIFY(winsim::addService({ "Stubborn", "", {}, true, false, 0, 0 }));
    SC_HANDLE stubborn = openService(m_manager, u"Stubborn");
    QVERIFY(!ControlService(stubborn, SERVICE_CONTROL_STOP, &reported));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_SERVICE_CONTROL));
    QVERIFY(CloseServiceHandle(stubborn));
}

void TestWinsimServices::openAndCloseErrors()
{
    QVERIFY(!OpenServiceW(m_manager, u"NoSuchService", SERVICE_QUERY_STATUS));
    QCOMPARE(GetLastError(), DWORD(ERROR_SERVICE_DOES_NOT_EXIST));
    QVERIFY(!OpenServiceW(reinterpret_cast<SC_HANDLE>(0x77), u"Fax", SERVICE_QUERY_STATUS));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    SC_HANDLE fax = openService(m_manager, u"FAX");
    QVERIFY(fax);
    // A service handle is no manager handle.
    QVERIFY(!OpenServiceW(fax, u"Fax", SERVICE_QUERY_STATUS));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    QVERIFY(CloseServiceHandle(fax));
    QVERIFY(!CloseServiceHandle(fax));
    QCOMPARE(GetLastError(), DWORD(ERROR_INVALID_HANDLE));
    winsim::failCall("OpenSCManagerW", 1, ERROR_ACCESS_DENIED);
    QVERIFY(!OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    QCOMPARE(GetLastError(), DWORD(ERROR_ACCESS_DENIED));
}

void TestWinsimServices::tickCountAndSleep()
{
    const DWORD start = GetTickCount();
    Sleep(30);
    QVERIFY(DWORD(GetTickCount() - start) >= 30);
}

void TestWinsimServices::raisedThreadStartsOthersAtNormal()
{
    // On a thread of its own, so that the suite's thread keeps its priority.
    int before = -1;
    BOOL raised = FALSE;
    DWORD raiseError = 0;
    int after = -1;
    int started = -1;
    // Each level set in turn, as read back; lowering always succeeds here, raising (back to normal
    // too) needs the privilege.
    QList<int> readBack;
    BOOL badLevel = TRUE;
    DWORD badLevelError = 0;
    BOOL otherHandle = TRUE;
    DWORD otherHandleError = 0;
    std::thread([&] {
        before = GetThreadPriority(GetCurrentThread());
        raised = SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_ABOVE_NORMAL);
        raiseError = GetLastError();
        after = GetThreadPriority(GetCurrentThread());
        std::thread([&] { started = GetThreadPriority(GetCurrentThread()); }).join();
        for (const int level : { THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_HIGHEST,
                 THREAD_PRIORITY_LOWEST, THREAD_PRIORITY_NORMAL }) {
            if (SetThreadPriority(GetCurrentThread(), level))
                readBack.append(GetThreadPriority(GetCurrentThread()));
        }
        badLevel = SetThreadPriority(GetCurrentThread(), 7);
        badLevelError = GetLastError();
        otherHandle = SetThreadPriority(GetProcessHeap(), THREAD_PRIORITY_NORMAL);
        otherHandleError = GetLastError();
    }).join();

    QVERIFY(!badLevel);
    QCOMPARE(badLevelError, DWORD(ERROR_INVALID_PARAMETER));
    QVERIFY(!otherHandle);
    QCOMPARE(otherHandleError, DWORD(ERROR_INVALID_HANDLE));
    if (::geteuid() != 0) {
        // Only a privileged process may raise a thread here; it must say so, not pretend.
        QVERIFY(!raised);
        QCOMPARE(raiseError, DWORD(ERROR_PRIVILEGE_NOT_HELD));
        QCOMPARE(after, before);
        QCOMPARE(readBack, QList<int> { THREAD_PRIORITY_LOWEST });
        return;
    }
    QVERIFY(raised);
    QCOMPARE(after, THREAD_PRIORITY_ABOVE_NORMAL);
    // As on Windows, a new thread does not take its creator's priority.
    QCOMPARE(started, THREAD_PRIORITY_NORMAL);
    // A raised thread can come down again, and every level reads back as itself.
    QCOMPARE(readBack,
        (QList<int> { THREAD_PRIORITY_TIME_CRITICAL, THREAD_PRIORITY_HIGHEST, THREAD_PRIORITY_LOWEST,
            THREAD_PRIORITY_NORMAL }));
}

void TestWinsimServices::processHeapKnowsItsBlocks()
{
    HANDLE heap = GetProcessHeap();
    QVERIFY(heap);
    auto *block = static_cast<BYTE *>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 4096));
    QVERIFY(block);
    QCOMPARE(winsim::heapBlockCount(), 1);
    QVERIFY(std::all_of(block, block + 4096, [](BYTE b) { return b == 0; }));
    QVERIFY(HeapFree(heap, 0, block));
    QVERIFY(!HeapFree(heap, 0, block)); // the second free of the same block
    QCOMPARE(winsim::heapBlockCount(), 0);
    winsim::failCall("HeapAlloc", 1, 0);
    QVERIFY(!HeapAlloc(heap, 0, 16));
    QCOMPARE(winsim::heapBlockCount(), 0);
}

QTEST_GUILESS_MAIN(TestWinsimServices)
#include "tst_winsimservices.moc"
