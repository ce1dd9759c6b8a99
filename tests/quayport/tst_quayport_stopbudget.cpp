#include <QElapsedTimer>
#include <QtTest>

#include "quayportexports.h"
#include "win32.h"
#include "winsim/winsimcontrol.h"

// The 30000 ms budget of StopDependentServices belongs to the whole call: two dependents that take
// 20000 ms each to stop fit a budget per dependent, but not this one. Real time passes here, so the
// suite is a slow one.
class TstQuayportStopBudget : public QObject
{
    Q_OBJECT

private slots:
    void budgetCountsFromTheStartOfTheCall();
};

namespace {

bool addService(const std::string &name, std::vector<std::string> dependsOn, int64_t stopMs)
{
    winsim::ServiceFixture fixture;
    fixture.name = name;
    fixture.dependsOn = std::move(dependsOn);
    fixture.stopMs = stopMs;
    fixture.waitHintMs = 1000;
    return winsim::addService(fixture);
}

DWORD stateOf(SC_HANDLE manager, const char16_t *name)
{
    SC_HANDLE service = OpenServiceW(manager, name, SERVICE_QUERY_STATUS);
    SERVICE_STATUS_PROCESS status {};
    DWORD needed = 0;
    const BOOL ok = service != nullptr
        && QueryServiceStatusEx(
            service, SC_STATUS_PROCESS_INFO, reinterpret_cast<LPBYTE>(&status), sizeof(status), &needed);
    if (service != nullptr)
        CloseServiceHandle(service);
    return ok ? status.dwCurrentState : 0;
}

} // namespace

void TstQuayportStopBudget::budgetCountsFromTheStartOfTheCall()
{
    QuayportExports q;
    const QString error = q.load();
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY(winsim::reset());

    QVERIFY(addService("Spooler", {}, 0));
    QVERIFY(addService("Fax", { "Spooler" }, 20000));
    QVERIFY(addService("Scan", { "Spooler" }, 20000));

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE spooler = OpenServiceW(manager, u"Spooler", SERVICE_ALL_ACCESS);
    QVERIFY(spooler != nullptr);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(q.stopDependents(manager, spooler), FALSE);
    // Not given up before the budget was spent.
    QVERIFY2(timer.elapsed() >= 30000, qPrintable(QString::number(timer.elapsed())));

    // The first dependent stopped within the budget; the second was still stopping when it ran out.
    const DWORD fax = stateOf(manager, u"Fax");
    const DWORD scan = stateOf(manager, u"Scan");
    QVERIFY2((fax == SERVICE_STOPPED) != (scan == SERVICE_STOPPED),
        qPrintable(QStringLiteral("Fax %1, Scan %2").arg(fax).arg(scan)));

    CloseServiceHandle(spooler);
    CloseServiceHandle(manager);
    QCOMPARE(winsim::openHandleCount(), 0);
    QCOMPARE(winsim::heapBlockCount(), 0);
}

QTEST_GUILESS_MAIN(TstQuayportStopBudget)
#include "tst_quayport_stopbudget.moc"
