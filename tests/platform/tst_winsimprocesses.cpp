// winsim across processes: the RUNDLL32 stand-in, the winsim tool and the despooler, with real
// child processes and real loopback connections.
#include "winsimtestsupport.h"

#include <QtNetwork>
#include <QtTest>

#include <poll.h>
#include <unistd.h>

#include <random>
#include <vector>

namespace {

const QString kPrinter = QStringLiteral("Cloud A");
const QString kPort = QStringLiteral("REDadez001");

QString binary(const char *name)
{
    return QStringLiteral(COURIER_BIN_DIR "/") + QLatin1String(name);
}

// The INF path as the program passes it: the program folder with backslashes.
QString infPath()
{
    return QStringLiteral(COURIER_BIN_DIR "/Driver/VarnPtr.INF").replace(QLatin1Char('/'), QLatin1Char('\\'));
}

struct Run
{
    int exitCode = -1;
    QByteArray out, err;
};

Run run(const QString &program, const QStringList &arguments, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.start(program, arguments);
    Run result;
    if (!process.waitForStarted(10000))
        return result;
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(30000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -2;
    result.out = process.readAllStandardOutput();
    result.err = process.readAllStandardError();
    return result;
}

// Accepts connections and holds them, unread, until the test reads and closes them: the receiver
// decides when the spooler sees its connection closed.
class HoldingServer : public QTcpServer
{
public:
    ~HoldingServer() override
    {
        for (const qintptr fd : m_held)
            ::close(int(fd));
    }
    int heldCount() const { return m_held.size(); }
    int take() { return m_held.isEmpty() ? -1 : int(m_held.takeFirst()); }

protected:
    void incomingConnection(qintptr descriptor) override { m_held << descriptor; }

private:
    QList<qintptr> m_held;
};

struct Job
{
    QString document;
    DWORD status = 0;
    DWORD size = 0;
};

QList<Job> queue(const QString &printerName)
{
    QList<Job> jobs;
    HANDLE printer = openPrinter(printerName, PRINTER_ACCESS_USE);
    if (!printer)
        return jobs;
    DWORD needed = 0;
    DWORD count = 0;
    EnumJobsW(printer, 0, 100, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    if (needed && EnumJobsW(printer, 0, 100, 2, buffer.data(), needed, &needed, &count)) {
        for (DWORD i = 0; i < count; ++i) {
            JOB_INFO_2W info;
            std::memcpy(&info, buffer.data() + i * sizeof info, sizeof info);
            jobs << Job { text(info.pDocument), info.Status, info.Size };
        }
    }
    ClosePrinter(printer);
    return jobs;
}

QStringList printers()
{
    DWORD needed = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, nullptr, 0, &needed, &count);
    std::vector<BYTE> buffer(needed);
    QStringList rows;
    if (needed && EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, buffer.data(), needed, &needed, &count)) {
        for (DWORD i = 0; i < count; ++i) {
            PRINTER_INFO_2W info;
            std::memcpy(&info, buffer.data() + i * sizeof info, sizeof info);
            rows << text(info.pPrinterName) + "|" + text(info.pPortName) + "|" + text(info.pDriverName);
        }
    }
    return rows;
}

QByteArray randomBytes(int size)
{
    std::mt19937 generator(20240520);
    QByteArray bytes(size, '\0');
    for (char &b : bytes)
        b = char(generator() & 0xFF);
    return bytes;
}

} // namespace

class TestWinsimProcesses : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void rundllInstallsThePrinterFromTheInf();
    void rundllRefusals_data();
    void rundllRefusals();
    void testPageGoesOutAfterRundllReturned();
    void toolPrintDeliversExactlyTheFileBytes();
    void jobsGoOutOneAtATimeInSubmissionOrder();
    void pausedPrinterKeepsItsJobs();
    void nothingIsLostWhenTheReceiverListensLate();
    void purgeCancelsTheJobBeingSent();
    void waitForTheReceiversCloseIsBounded();
    void unreachablePortKeepsTheJobForLater();
    void toolListsAndRefuses_data();
    void toolListsAndRefuses();

private:
    // A cloud printer whose port points at a holding server on loopback.
    bool setUpPrinter(HoldingServer *server);
};

void TestWinsimProcesses::init()
{
    std::string error;
    QVERIFY2(winsim::reset(&error), error.c_str());
}

void TestWinsimProcesses::cleanup()
{
    QCOMPARE(winsim::openHandleCount(), 0);
}

bool TestWinsimProcesses::setUpPrinter(HoldingServer *server)
{
    return server->listen(QHostAddress::LocalHost)
        && addCloudPrinter(kPrinter, kPort, DWORD(server->serverPort()));
}

void TestWinsimProcesses::rundllInstallsThePrinterFromTheInf()
{
    QCOMPARE(addTcpPort(kPort, QStringLiteral("127.0.0.1"), 8101), DWORD(ERROR_SUCCESS));
    const QStringList arguments { "PRINTUI.DLL,PrintUIEntry", "/if", "/b", kPrinter, "/f", infPath(), "/r",
        kPort, "/m", kModel, "/u" };
    const Run result = run(binary("RUNDLL32"), arguments);
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QCOMPARE(printers(), QStringList { kPrinter + "|" + kPort + "|" + kModel });

    // The driver's version is the DriverVer of the shipped INF.
    QFile inf(QStringLiteral(COURIER_SOURCE_DIR "/Driver/VarnPtr.INF"));
    QVERIFY(inf.open(QIODevice::ReadOnly));
    const auto match = QRegularExpression(QStringLiteral("DriverVer=[^,]*,([0-9.]+)")).match(inf.readAll());
    QVERIFY(match.hasMatch());
    std::u16string key = wide(QStringLiteral("SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\"
                                             "Windows x64\\Drivers\\Version-3\\")
        + kModel);
    HKEY handle = nullptr;
    QCOMPARE(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &handle), LSTATUS(ERROR_SUCCESS));
    char16_t version[130] = {};
    DWORD size = sizeof version;
    QCOMPARE(RegQueryValueExW(
                 handle, u"DriverVersion", nullptr, nullptr, reinterpret_cast<BYTE *>(version), &size),
        LSTATUS(ERROR_SUCCESS));
    QCOMPARE(text(version), match.captured(1));
    QCOMPARE(RegCloseKey(handle), LSTATUS(ERROR_SUCCESS));

    // The log holds the command line as it was given, one line per start.
    const auto lines = winsim::rundllCommandLines();
    QCOMPARE(lines.size(), size_t(1));
    QCOMPARE(
        QProcess::splitCommand(QString::fromStdString(lines[0])), QStringList { "RUNDLL32" } + arguments);
}

void TestWinsimProcesses::rundllRefusals_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("printerExists");
    QTest::addColumn<QString>("complaint");
    const QString inf = infPath();
    QTest::newRow("printer exists") << QStringList { "/if", "/b", "cloud a", "/f", inf, "/r", kPort, "/m",
        kModel } << true << "exists";
    QTest::newRow("port missing") << QStringList { "/if", "/b", "New", "/f", inf, "/r", "NOPE", "/m", kModel }
                                  << false << "no port";
    QTest::newRow("driver missing") << QStringList { "/if", "/b", "New", "/r", kPort, "/m", kModel } << false
                                    << "not installed";
    QTest::newRow("model not in INF")
        << QStringList { "/if", "/b", "New", "/f", inf, "/r", kPort, "/m", "Other" } << false << "no model";
    QTest::newRow("INF missing") << QStringList { "/if", "/b", "New", "/f", "C:\\nowhere\\x.inf", "/r", kPort,
        "/m", kModel } << false << "cannot read";
    QTest::newRow("unknown option") << QStringList { "/if", "/zz" } << false << "unknown option";
    QTest::newRow("test page of nobody") << QStringList { "/k", "/n", "Nobody" } << false << "no printer";
}

void TestWinsimProcesses::rundllRefusals()
{
    QFETCH(QStringList, options);
    QFETCH(bool, printerExists);
    QFETCH(QString, complaint);
    QCOMPARE(addTcpPort(kPort, QStringLiteral("127.0.0.1"), 8101), DWORD(ERROR_SUCCESS));
    if (printerExists) {
        QVERIFY(winsim::installDriver(kModel, "Windows x64", "1.0"));
        QVERIFY(winsim::addPrinter(kPrinter.toStdString(), kPort.toStdString(), kModel));
    }
    const QStringList before = printers();
    const Run result = run(binary("RUNDLL32"), QStringList { "PRINTUI.DLL,PrintUIEntry" } + options);
    QVERIFY(result.exitCode > 0);
    QVERIFY2(result.err.contains(complaint.toUtf8()), result.err.constData());
    QCOMPARE(printers(), before);
}

void TestWinsimProcesses::testPageGoesOutAfterRundllReturned()
{
    HoldingServer server;
    QVERIFY(setUpPrinter(&server));
    const Run result = run(binary("RUNDLL32"), { "PRINTUI.DLL,PrintUIEntry", "/k", "/n", kPrinter });
    QCOMPARE(result.exitCode, 0);

    QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
    const int connection = server.take();
    QByteArray page;
    QVERIFY(readToEnd(connection, &page));
    QVERIFY(page.startsWith("测试页"));
    // Everything is sent, but the job keeps its printing bit until the receiver closes.
    const auto held = queue(kPrinter);
    QCOMPARE(held.size(), 1);
    QCOMPARE(held[0].document, QStringLiteral("测试页"));
    QCOMPARE(held[0].status & JOB_STATUS_PRINTING, DWORD(JOB_STATUS_PRINTING));
    QCOMPARE(held[0].size, DWORD(page.size()));
    ::close(connection);
    QTRY_VERIFY_WITH_TIMEOUT(queue(kPrinter).isEmpty(), 15000);
}

void TestWinsimProcesses::toolPrintDeliversExactlyTheFileBytes()
{
    HoldingServer server;
    QVERIFY(setUpPrinter(&server));
    QTemporaryFile file;
    QVERIFY(file.open());
    const QByteArray content = randomBytes(700 * 1024);
    QVERIFY(file.write(content) == content.size());
    file.close();

    const Run result
        = run(binary("winsim"), { "print", kPrinter, file.fileName(), "--document", "账单.pdf" });
    QVERIFY2(result.exitCode == 0, result.err.constData());
    QVERIFY(result.out.startsWith("job\t"));
    QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
    const int connection = server.take();
    QByteArray received;
    QVERIFY(readToEnd(connection, &received));
    QCOMPARE(received.size(), content.size());
    QVERIFY(received == content);
    QCOMPARE(queue(kPrinter).value(0).document, QStringLiteral("账单.pdf"));
    ::close(connection);
    QTRY_VERIFY_WITH_TIMEOUT(queue(kPrinter).isEmpty(), 15000);

    // Standard input works the same way, and the job then has no document name.
    const Run piped = run(binary("winsim"), { "print", kPrinter }, "from a pipe");
    QCOMPARE(piped.exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
    QCOMPARE(queue(kPrinter).value(0).document, QString());
    const int second = server.take();
    received.clear();
    QVERIFY(readToEnd(second, &received));
    QCOMPARE(received, QByteArray("from a pipe"));
    ::close(second);
    QTRY_VERIFY_WITH_TIMEOUT(queue(kPrinter).isEmpty(), 15000);
}

void TestWinsimProcesses::jobsGoOutOneAtATimeInSubmissionOrder()
{
    HoldingServer server;
    QVERIFY(setUpPrinter(&server));
    QVERIFY(winsim::pausePrinter(kPrinter.toStdString()));
    const QStringList documents { "first", "second", "third" };
    for (const QString &document : documents) {
        const QByteArray body = document.toUtf8() + " body";
        QVERIFY(winsim::submitJob(
            kPrinter.toStdString(), document.toStdString(), std::vector<uint8_t>(body.begin(), body.end())));
    }
    QVERIFY(winsim::resumePrinter(kPrinter.toStdString()));

    for (int i = 0; i < documents.size(); ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
        const int connection = server.take();
        QByteArray body;
        QVERIFY(readToEnd(connection, &body));
        QCOMPARE(body, documents[i].toUtf8() + " body");
        // While this receiver holds its connection, only its job is printing; the rest wait.
        const auto jobs = queue(kPrinter);
        QCOMPARE(jobs.size(), documents.size() - i);
        QCOMPARE(jobs[0].document, documents[i]);
        QCOMPARE(jobs[0].status & JOB_STATUS_PRINTING, DWORD(JOB_STATUS_PRINTING));
        for (int k = 1; k < jobs.size(); ++k)
            QCOMPARE(jobs[k].status & JOB_STATUS_PRINTING, DWORD(0));
        QCOMPARE(server.heldCount(), 0);
        ::close(connection);
    }
    QTRY_VERIFY_WITH_TIMEOUT(queue(kPrinter).isEmpty(), 15000);
}

void TestWinsimProcesses::pausedPrinterKeepsItsJobs()
{
    HoldingServer server;
    QVERIFY(setUpPrinter(&server));
    QVERIFY(winsim::pausePrinter(kPrinter.toStdString()));
    // Printed by another process; this process's library sees the job.
    QCOMPARE(run(binary("winsim"), { "print", kPrinter, "-", "--document", "kept" }, "payload").exitCode, 0);
    QCOMPARE(queue(kPrinter).value(0).document, QStringLiteral("kept"));

    // A despooler that runs to its end while the printer is paused sends nothing.
    const int64_t passes = winsim::despoolPassCount(kPrinter.toStdString());
    QCOMPARE(run(binary("winsim"), { "despool", kPrinter }).exitCode, 0);
    QCOMPARE(winsim::despoolPassCount(kPrinter.toStdString()), passes + 1);
    QCoreApplication::processEvents();
    QCOMPARE(server.heldCount(), 0);
    QCOMPARE(queue(kPrinter).size(), 1);

    QCOMPARE(run(binary("winsim"), { "resume", kPrinter }).exitCode, 0);
    QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
    const int connection = server.take();
    QByteArray body;
    QVERIFY(readToEnd(connection, &body));
    QCOMPARE(body, QByteArray("payload"));
    ::close(connection);
    QTRY_VERIFY_WITH_TIMEOUT(queue(kPrinter).isEmpty(), 15000);
}

void TestWinsimProcesses::nothingIsLostWhenTheReceiverListensLate()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    QVERIFY(addCloudPrinter(kPrinter, kPort, port));
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("early"), { 'e', 'a', 'r', 'l', 'y' }));
    // The spooler keeps trying to connect; the job shows as printing meanwhile.
    QTRY_COMPARE_WITH_TIMEOUT(
        queue(kPrinter).value(0).status & JOB_STATUS_PRINTING, DWORD(JOB_STATUS_PRINTING), 15000);

    HoldingServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, port));
    QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
    const int connection = server.take();
    QByteArray body;
    QVERIFY(readToEnd(connection, &body));
    QCOMPARE(body, QByteArray("early"));
    ::close(connection);
    QTRY_VERIFY_WITH_TIMEOUT(queue(kPrinter).isEmpty(), 15000);
}

void TestWinsimProcesses::purgeCancelsTheJobBeingSent()
{
    HoldingServer server;
    QVERIFY(setUpPrinter(&server));
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("doomed"), { 1, 2, 3 }));
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("queued"), { 4 }));
    QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
    const int connection = server.take();

    HANDLE printer = openPrinter(kPrinter, PRINTER_ALL_ACCESS);
    QVERIFY(SetPrinterW(printer, 0, nullptr, PRINTER_CONTROL_PURGE));
    QVERIFY(ClosePrinter(printer));
    // The queued job goes at once; the one being sent as soon as its despooler notices.
    QTRY_VERIFY_WITH_TIMEOUT(queue(kPrinter).isEmpty(), 15000);
    ::close(connection);
    QCOMPARE(server.heldCount(), 0);
}

void TestWinsimProcesses::waitForTheReceiversCloseIsBounded()
{
    HoldingServer server;
    QVERIFY(setUpPrinter(&server));
    // The despooler inherits the bound from whoever starts it.
    qputenv("WINSIM_CLOSE_WAIT_MS", "300");
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("held"), { 'h' }));
    qunsetenv("WINSIM_CLOSE_WAIT_MS");
    QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
    const int connection = server.take();
    QByteArray body;
    QVERIFY(readToEnd(connection, &body));
    // The receiver never closes, yet the job leaves the queue.
    QTRY_VERIFY_WITH_TIMEOUT(queue(kPrinter).isEmpty(), 15000);
    ::close(connection);
}

void TestWinsimProcesses::unreachablePortKeepsTheJobForLater()
{
    quint16 port = 0;
    {
        QTcpServer probe;
        QVERIFY(probe.listen(QHostAddress::LocalHost));
        port = probe.serverPort();
    }
    QVERIFY(addCloudPrinter(kPrinter, kPort, port));
    const int64_t passes = winsim::despoolPassCount(kPrinter.toStdString());
    qputenv("WINSIM_CONNECT_RETRY_MS", "300");
    QVERIFY(winsim::submitJob(kPrinter.toStdString(), std::string("later"), { 'l' }));
    qunsetenv("WINSIM_CONNECT_RETRY_MS");
    QTRY_COMPARE_WITH_TIMEOUT(winsim::despoolPassCount(kPrinter.toStdString()), passes + 1, 15000);
    // The spooler gave up for now: the job is still queued, marked with the error bit (0x2).
    const auto jobs = queue(kPrinter);
    QCOMPARE(jobs.size(), 1);
    QCOMPARE(jobs[0].status, DWORD(0x2));

    HoldingServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, port));
    // Anyone may start the despooler again; it runs until the receiver has closed.
    QProcess despooler;
    despooler.start(binary("winsim"), { "despool", kPrinter });
    QTRY_COMPARE_WITH_TIMEOUT(server.heldCount(), 1, 15000);
    const int connection = server.take();
    QByteArray body;
    QVERIFY(readToEnd(connection, &body));
    QCOMPARE(body, QByteArray("l"));
    ::close(connection);
    QVERIFY(despooler.waitForFinished(15000));
    QCOMPARE(despooler.exitCode(), 0);
    QVERIFY(queue(kPrinter).isEmpty());
}

void TestWinsimProcesses::toolListsAndRefuses_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("output");
    QTest::newRow("printers") << QStringList { "printers" } << 0
                              << "Cloud A\tREDadez001\tVarn VN-210K\tpaused\t0\n";
    QTest::newRow("ports") << QStringList { "ports" } << 0
                           << "LPT1:\tLocal Port\t\t\nFILE:\tLocal Port\t\t\n"
                              "REDadez001\tStandard TCP/IP Port\t127.0.0.1\t8101\n";
    QTest::newRow("drivers") << QStringList { "drivers" } << 0 << "Varn VN-210K\tWindows x64\t1.22.5.3\n";
    QTest::newRow("data") << QStringList { "data", "cloud a" } << 0 << "CloudPort\t3\ta51f\n";
    QTest::newRow("unknown printer") << QStringList { "print", "Nobody", "-" } << 1 << "no printer named";
    QTest::newRow("unreadable file") << QStringList { "print", kPrinter, "/nonexistent/file" } << 1
                                     << "cannot read";
    QTest::newRow("jobs of nobody") << QStringList { "jobs", "Nobody" } << 1 << "no printer named";
    QTest::newRow("bad port number") << QStringList { "add-port", "P", "127.0.0.1", "many" } << 2 << "usage";
    QTest::newRow("port exists") << QStringList { "add-port", "redadez001", "127.0.0.1", "1" } << 1
                                 << "exists";
    QTest::newRow("unknown command") << QStringList { "frobnicate" } << 2 << "unknown command";
}

void TestWinsimProcesses::toolListsAndRefuses()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, output);
    QVERIFY(addCloudPrinter(kPrinter, kPort, 8101));
    QVERIFY(winsim::pausePrinter(kPrinter.toStdString()));
    HANDLE printer = openPrinter(kPrinter, PRINTER_ACCESS_ADMINISTER);
    BYTE port[2] = { 0xA5, 0x1F };
    std::u16string name = u"CloudPort";
    QCOMPARE(SetPrinterDataW(printer, name.data(), REG_BINARY, port, 2), DWORD(ERROR_SUCCESS));
    QVERIFY(ClosePrinter(printer));

    const Run result = run(binary("winsim"), arguments);
    QCOMPARE(result.exitCode, exitCode);
    if (exitCode == 0)
        QCOMPARE(QString::fromUtf8(result.out), output);
    else
        QVERIFY2(result.err.contains(output.toUtf8()), result.err.constData());
}

QTEST_GUILESS_MAIN(TestWinsimProcesses)
#include "tst_winsimprocesses.moc"
