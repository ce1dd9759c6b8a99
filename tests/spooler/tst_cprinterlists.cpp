#include <QtTest>

#include <string>

#include "cprinter.h"
#include "logcapture.h"
#include "testprinters.h"
#include "winsim/winsimcontrol.h"

namespace {

using TestPrinters::kDriver;

QString keyPath(const QString &environment, const QString &driver)
{
    return QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\") + environment
        + QStringLiteral("\\Drivers\\Version-3\\") + driver;
}

} // namespace

class TstCPrinterLists : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void emptySpoolerListsNoPrinters();
    void printersInTheSpoolersOrder();
    void enumerationReadFailures_data();
    void enumerationReadFailures();
    void portsOfAFreshMachine();
    void driversOfThisEnvironmentOnly();

    void driverVersionFromTheFirstEnvironmentThatHasIt();
    void driverVersionWhenNotInstalled();
    void valueLengthLimit_data();
    void valueLengthLimit();
    void emptyNamesReadNoRegistry();

private:
    CPrinter m_printer;
};

void TstCPrinterLists::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
}

void TstCPrinterLists::cleanup()
{
    QCOMPARE(winsim::openHandleCount(), 0);
}

void TstCPrinterLists::emptySpoolerListsNoPrinters()
{
    LogCapture log;
    QList<PRINTER_INFO_2W> printers;
    SpoolerBuffer buffer;
    QVERIFY(!m_printer.EnumPrinters(printers, buffer));
    QVERIFY(!buffer.isValid());
    QVERIFY(printers.isEmpty());
    QCOMPARE(winsim::callCount("EnumPrintersW"), 1);
    QVERIFY(log.hasLine(QStringLiteral("115_CPrinter EnumPrinters GetLastError() == "), QtCriticalMsg));
    QVERIFY(
        log.linesStartingWith(QStringLiteral("115_")).value(0).endsWith(QStringLiteral("|| pcbNeeded == 0")));
}

void TstCPrinterLists::printersInTheSpoolersOrder()
{
    QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.22.5.3"));
    QVERIFY(winsim::addPrinter("Office", "LPT1:", kDriver));
    QVERIFY(winsim::addPrinter("前台", "FILE:", kDriver));
    LogCapture log;

    QList<PRINTER_INFO_2W> printers;
    SpoolerBuffer buffer;
    QVERIFY(m_printer.EnumPrinters(printers, buffer));
    QVERIFY(buffer.isValid());
    QCOMPARE(printers.size(), 2);
    QStringList seen;
    for (const PRINTER_INFO_2W &printer : printers) {
        seen.append(QString::fromUtf16(printer.pPrinterName) + QLatin1Char('@')
            + QString::fromUtf16(printer.pPortName));
        QCOMPARE(QString::fromUtf16(printer.pDriverName), QString::fromLatin1(kDriver));
    }
    seen.sort();
    QCOMPARE(seen, QStringList({ QStringLiteral("Office@LPT1:"), QStringLiteral("前台@FILE:") }));

    // The log lists them in the order the list holds them.
    QStringList logged = log.linesStartingWith(QStringLiteral("134_"));
    QCOMPARE(logged.size(), 2);
    for (int i = 0; i < printers.size(); ++i) {
        QCOMPARE(logged.at(i),
            QStringLiteral("134_CPrinter printer name: %1, port: %2")
                .arg(QString::fromUtf16(printers.at(i).pPrinterName),
                    QString::fromUtf16(printers.at(i).pPortName)));
    }
    QVERIFY(log.hasLine(QStringLiteral("134_"), QtInfoMsg));
}

void TstCPrinterLists::enumerationReadFailures_data()
{
    QTest::addColumn<int>("which");
    QTest::addColumn<QString>("call");
    QTest::addColumn<int>("nth");
    QTest::addColumn<QString>("message");

    QTest::newRow("printers, size") << 0 << "EnumPrintersW" << 1
                                    << "115_CPrinter EnumPrinters GetLastError() == 5 ";
    QTest::newRow("printers, read") << 0 << "EnumPrintersW" << 2
                                    << "126_CPrinter EnumPrinters GetLastError() == 5";
    QTest::newRow("ports, size") << 1 << "EnumPortsW" << 1 << "152_CPrinter EnumPorts GetLastError() == 5 ";
    QTest::newRow("ports, read") << 1 << "EnumPortsW" << 2 << "163_CPrinter EnumPorts GetLastError() == 5";
    QTest::newRow("drivers, size") << 2 << "EnumPrinterDriversW" << 1
                                   << "479_CPrinter EnumPrinterDrivers GetLastError() == 5 ";
    QTest::newRow("drivers, read") << 2 << "EnumPrinterDriversW" << 2
                                   << "490_CPrinter EnumPrinterDrivers GetLastError() == 5";
}

void TstCPrinterLists::enumerationReadFailures()
{
    QFETCH(int, which);
    QFETCH(QString, call);
    QFETCH(int, nth);
    QFETCH(QString, message);

    QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.22.5.3"));
    QVERIFY(winsim::addPrinter("Office", "LPT1:", kDriver));
    winsim::failCall(call.toStdString(), nth, ERROR_ACCESS_DENIED);
    LogCapture log;

    SpoolerBuffer buffer;
    bool listed = true;
    int count = -1;
    if (which == 0) {
        QList<PRINTER_INFO_2W> list;
        listed = m_printer.EnumPrinters(list, buffer);
        count = list.size();
    } else if (which == 1) {
        QList<PORT_INFO_2W> list;
        listed = m_printer.EnumPorts(list, buffer);
        count = list.size();
    } else {
        QList<DRIVER_INFO_3W> list;
        listed = m_printer.EnumPrinterDrivers(list, buffer);
        count = list.size();
    }
    QVERIFY(!listed);
    QCOMPARE(count, 0);
    QVERIFY(!buffer.isValid());
    QVERIFY2(log.hasLine(message, QtCriticalMsg),
        qPrintable(log.linesStartingWith(QString()).join(QLatin1Char('\n'))));
}

void TstCPrinterLists::portsOfAFreshMachine()
{
    LogCapture log;
    QList<PORT_INFO_2W> ports;
    SpoolerBuffer buffer;
    QVERIFY(m_printer.EnumPorts(ports, buffer));
    QStringList names;
    for (const PORT_INFO_2W &port : ports)
        names.append(QString::fromUtf16(port.pPortName));
    names.sort();
    QCOMPARE(names, QStringList({ QStringLiteral("FILE:"), QStringLiteral("LPT1:") }));
    QCOMPARE(log.linesStartingWith(QStringLiteral("171_CPrinter port name: ")).size(), 2);
    QVERIFY(log.hasLine(QStringLiteral("171_CPrinter port name: LPT1:"), QtInfoMsg));
}

void TstCPrinterLists::driversOfThisEnvironmentOnly()
{
    LogCapture log;
    QList<DRIVER_INFO_3W> drivers;
    SpoolerBuffer buffer;

    // Installed for 32-bit Windows only: not a driver of this machine's environment.
    QVERIFY(winsim::installDriver(kDriver, "Windows NT x86", "1.22.5.3"));
    QVERIFY(!m_printer.EnumPrinterDrivers(drivers, buffer));
    QVERIFY(log.hasLine(QStringLiteral("479_CPrinter EnumPrinterDrivers"), QtCriticalMsg));

    QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.22.5.3"));
    QVERIFY(m_printer.EnumPrinterDrivers(drivers, buffer));
    QCOMPARE(drivers.size(), 1);
    QCOMPARE(QString::fromUtf16(drivers.at(0).pName), QString::fromLatin1(kDriver));
    QVERIFY(
        log.hasLine(QStringLiteral("498_CPrinter driver name: ") + TestPrinters::driverName(), QtInfoMsg));
}

void TstCPrinterLists::driverVersionFromTheFirstEnvironmentThatHasIt()
{
    QVERIFY(winsim::installDriver(kDriver, "Windows NT x86", "3.1.0.7"));
    LogCapture log;

    QCOMPARE(m_printer.GetDriverVersion(QString::fromLatin1(kDriver)), QStringLiteral("3.1.0.7"));
    QCOMPARE(log.countStartingWith(QStringLiteral("631_CPrinter RegOpenKeyEx error code:")), 1);
    QCOMPARE(log.linesStartingWith(QStringLiteral("620_CPrinter GetDriverRegInfo keypath:")),
        QStringList({ QStringLiteral("620_CPrinter GetDriverRegInfo keypath: ")
                + keyPath(QStringLiteral("Windows x64"), QString::fromLatin1(kDriver)),
            QStringLiteral("620_CPrinter GetDriverRegInfo keypath: ")
                + keyPath(QStringLiteral("Windows NT x86"), QString::fromLatin1(kDriver)) }));
    QVERIFY(log.hasLine(QStringLiteral("653_CPrinter GetDriverRegInfo result:"), QtDebugMsg));

    // Once it is there for this machine's environment that comes first.
    QVERIFY(winsim::installDriver(kDriver, "Windows x64", "3.2.0.0"));
    log.clear();
    QCOMPARE(m_printer.GetDriverVersion(QString::fromLatin1(kDriver)), QStringLiteral("3.2.0.0"));
    QCOMPARE(log.countStartingWith(QStringLiteral("620_")), 1);
    QCOMPARE(log.countStartingWith(QStringLiteral("631_")), 0);
}

void TstCPrinterLists::driverVersionWhenNotInstalled()
{
    LogCapture log;
    QVERIFY(m_printer.GetDriverVersion(QString::fromLatin1(kDriver)).isEmpty());
    QCOMPARE(log.countStartingWith(QStringLiteral("631_CPrinter RegOpenKeyEx error code: 2")), 3);
    QCOMPARE(log.linesStartingWith(QStringLiteral("620_")).value(2),
        QStringLiteral("620_CPrinter GetDriverRegInfo keypath: ")
            + keyPath(QStringLiteral("Windows IA64"), QString::fromLatin1(kDriver)));
}

void TstCPrinterLists::valueLengthLimit_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("read");

    QTest::newRow("129 and the terminator fill 260 bytes") << 129 << true;
    QTest::newRow("130 and the terminator do not fit") << 130 << false;
    QTest::newRow("far too long") << 300 << false;
}

void TstCPrinterLists::valueLengthLimit()
{
    QFETCH(int, length);
    QFETCH(bool, read);
    const std::string version(size_t(length), '9');
    QVERIFY(winsim::installDriver(kDriver, "Windows x64", version));
    LogCapture log;

    const QString got = m_printer.GetDriverRegInfo(
        QString::fromLatin1(kDriver), QStringLiteral("Windows x64"), QStringLiteral("DriverVersion"));
    QCOMPARE(got, read ? QString::fromStdString(version) : QString());
    QCOMPARE(
        log.countStartingWith(QStringLiteral("645_CPrinter RegQueryValueEx error code: 234")), read ? 0 : 1);
}

void TstCPrinterLists::emptyNamesReadNoRegistry()
{
    QVERIFY(winsim::installDriver(kDriver, "Windows x64", "1.22.5.3"));
    LogCapture log;
    QVERIFY(m_printer.GetDriverVersion(QString()).isEmpty());
    QVERIFY(
        m_printer.GetDriverRegInfo(QString::fromLatin1(kDriver), QString(), QStringLiteral("DriverVersion"))
            .isEmpty());
    QCOMPARE(winsim::callCount("RegOpenKeyExW"), 0);
    QVERIFY(log.lines().isEmpty());
}

QTEST_GUILESS_MAIN(TstCPrinterLists)
#include "tst_cprinterlists.moc"
