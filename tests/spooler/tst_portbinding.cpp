#include <QFile>
#include <QtTest>

#include <atomic>
#include <thread>
#include <vector>

#include "cprinter.h"
#include "logcapture.h"
#include "programfolder.h"
#include "winsim/winsimcontrol.h"

namespace {

// Whether the port library is mapped into this process right now.
bool portLibraryMapped()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return true; // cannot tell: count it as the failing answer
    return maps.readAll().contains("libQuayport.so");
}

} // namespace

class TstPortBinding : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void addThenGetPortInfo_data();
    void addThenGetPortInfo();
    void libraryIsLoadedForEachCallOnly();
    void refusalsPassThroughAndLeaveTheOutsAlone();
    void missingLibrary();
    void libraryWithoutTheExports();
    void callsFromTwoThreadsAtOnce();

private:
    CPrinter m_printer;
};

void TstPortBinding::initTestCase()
{
    QVERIFY(ProgramFolder::placePortLibrary());
}

void TstPortBinding::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
}

void TstPortBinding::cleanup()
{
    QCOMPARE(winsim::openHandleCount(), 0);
    QVERIFY(ProgramFolder::placePortLibrary());
}

void TstPortBinding::addThenGetPortInfo_data()
{
    QTest::addColumn<QString>("portName");
    QTest::addColumn<uint>("number");

    QTest::newRow("first cloud printer") << "REDadez001" << 8101u;
    QTest::newRow("highest number") << "REDadez1000" << 65535u;
}

void TstPortBinding::addThenGetPortInfo()
{
    QFETCH(QString, portName);
    QFETCH(uint, number);
    LogCapture log;

    QCOMPARE(m_printer.addStandardTcpPort(portName, QStringLiteral("127.0.0.1"), number), 0);
    QVERIFY(log.hasLine(QStringLiteral("23_CPrinter addStandardTcpPort"), QtDebugMsg));
    QCOMPARE(log.linesStartingWith(QStringLiteral("38_CPrinter pAdd=")),
        QStringList { QStringLiteral("38_CPrinter pAdd= 0") });
    QVERIFY(log.hasLine(QStringLiteral("38_CPrinter pAdd= 0"), QtInfoMsg));

    QString host;
    quint16 port = 0;
    QCOMPARE(m_printer.GetPortInfo(portName, host, port), 0);
    QCOMPARE(host, QStringLiteral("127.0.0.1"));
    QCOMPARE(uint(port), number);
    QVERIFY(log.hasLine(QStringLiteral("435_CPrinter GetPortInfo"), QtDebugMsg));
    QVERIFY(log.hasLine(QStringLiteral("453_CPrinter pf()= 0"), QtInfoMsg));
}

void TstPortBinding::libraryIsLoadedForEachCallOnly()
{
    QVERIFY(!portLibraryMapped());
    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez001"), QStringLiteral("127.0.0.1"), 8101), 0);
    QVERIFY(!portLibraryMapped());

    // Nothing is kept from the call before: without the file the next call cannot work.
    QVERIFY(ProgramFolder::remove(QStringLiteral("libQuayport.so")));
    QString host;
    quint16 port = 0;
    QCOMPARE(m_printer.GetPortInfo(QStringLiteral("REDadez001"), host, port), -1);
    QVERIFY(ProgramFolder::placePortLibrary());
    QCOMPARE(m_printer.GetPortInfo(QStringLiteral("REDadez001"), host, port), 0);
    QCOMPARE(port, quint16(8101));
    QVERIFY(!portLibraryMapped());
}

void TstPortBinding::refusalsPassThroughAndLeaveTheOutsAlone()
{
    LogCapture log;
    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez001"), QStringLiteral("127.0.0.1"), 8101), 0);
    // The monitor refuses a second port of the same name.
    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez001"), QStringLiteral("127.0.0.1"), 8101), 3);
    QVERIFY(log.hasLine(QStringLiteral("38_CPrinter pAdd= 3"), QtInfoMsg));

    struct Case
    {
        const char *portName;
        const char *failingCall;
        int expected;
    };
    const Case cases[] = {
        { "REDadez404", nullptr, 1 }, // no such port: the channel does not open
        { "LPT1:", nullptr, 2 }, // a port of another monitor: the exchange fails
        { "REDadez001", "XcvDataW", 2 },
        { "REDadez001", "OpenPrinterW", 1 },
    };
    for (const Case &c : cases) {
        if (c.failingCall != nullptr)
            winsim::failCall(c.failingCall, 1, ERROR_ACCESS_DENIED);
        QString host = QStringLiteral("unchanged");
        quint16 port = 4242;
        QCOMPARE(m_printer.GetPortInfo(QString::fromLatin1(c.portName), host, port), c.expected);
        QCOMPARE(host, QStringLiteral("unchanged"));
        QCOMPARE(port, quint16(4242));
    }
}

void TstPortBinding::missingLibrary()
{
    QVERIFY(ProgramFolder::remove(QStringLiteral("libQuayport.so")));
    LogCapture log;

    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez001"), QStringLiteral("127.0.0.1"), 8101), -1);
    QVERIFY(log.hasLine(
        QStringLiteral("44_CPrinter addStandardTcpPort load Quayport.dll failed"), QtCriticalMsg));
    QCOMPARE(log.countStartingWith(QStringLiteral("38_")), 0);

    QString host = QStringLiteral("unchanged");
    quint16 port = 4242;
    QCOMPARE(m_printer.GetPortInfo(QStringLiteral("REDadez001"), host, port), -1);
    QVERIFY(log.hasLine(
        QStringLiteral("464_CPrinter GetConfigStandardTcpPort load Quayport.dll failed"), QtCriticalMsg));
    QCOMPARE(host, QStringLiteral("unchanged"));
    QCOMPARE(port, quint16(4242));
    QCOMPARE(winsim::callCount("OpenPrinterW"), 0);
}

void TstPortBinding::libraryWithoutTheExports()
{
    // A library that loads but is not the port library.
    QVERIFY(ProgramFolder::linkFile(QStringLiteral(NOT_QUAYPORT_PATH), QStringLiteral("libQuayport.so")));
    LogCapture log;

    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez001"), QStringLiteral("127.0.0.1"), 8101), -1);
    QVERIFY(log.hasLine(QStringLiteral("32_CPrinter resolve Quayport.dll failed"), QtCriticalMsg));

    QString host = QStringLiteral("unchanged");
    quint16 port = 4242;
    QCOMPARE(m_printer.GetPortInfo(QStringLiteral("REDadez001"), host, port), -1);
    QVERIFY(log.hasLine(QStringLiteral("444_CPrinter resolve Quayport.dll failed"), QtCriticalMsg));
    QCOMPARE(host, QStringLiteral("unchanged"));
    QCOMPARE(port, quint16(4242));

    // Gone again with the call: the real library is found at the next one.
    QVERIFY(ProgramFolder::placePortLibrary());
    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez001"), QStringLiteral("127.0.0.1"), 8101), 0);
}

void TstPortBinding::callsFromTwoThreadsAtOnce()
{
    QCOMPARE(
        m_printer.addStandardTcpPort(QStringLiteral("REDadez001"), QStringLiteral("127.0.0.1"), 8101), 0);
    LogCapture log; // keeps the threads' lines out of the test output

    std::atomic<int> wrong { 0 };
    auto reader = [&wrong]() {
        CPrinter printer;
        for (int i = 0; i < 25; ++i) {
            QString host;
            quint16 port = 0;
            if (printer.GetPortInfo(QStringLiteral("REDadez001"), host, port) != 0 || port != 8101
                || host != QLatin1String("127.0.0.1"))
                ++wrong;
        }
    };
    std::thread first(reader);
    std::thread second(reader);
    first.join();
    second.join();
    QCOMPARE(wrong.load(), 0);
    QVERIFY(!portLibraryMapped());
}

QTEST_GUILESS_MAIN(TstPortBinding)
#include "tst_portbinding.moc"
