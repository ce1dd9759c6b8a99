#include "cloudsimprocess.h"
#include "jobdescription.h"
#include "logcapture.h"
#include "outboxjournal.h"
#include "printerserver.h"
#include "programwaits.h"
#include "resultsink.h"
#include "spoolerfixture.h"
#include "spoolerjobs.h"
#include "statethread.h"
#include "testprinters.h"
#include "testtiming.h"
#include "win32.h"
#include "winsim/winsimcontrol.h"

#include <QHostAddress>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QString kPrinter = QStringLiteral("Cloud Desk");
const QString kSerial = QStringLiteral("F00DF00DF00DF00D");

QDateTime utc(int hour, int minute, int second)
{
    return QDateTime(QDate(2024, 3, 1), QTime(hour, minute, second), Qt::UTC);
}
} // namespace

// The relay between winsim's spooler and the cloud service stand-in, as the program wires it.
class TestRelayFlow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void jobDescriptionFromTheSpooler_data();
    void jobDescriptionFromTheSpooler();
    void noDescriptionWhenNothingPrints();
    void backToBackJobsKeepTheirOwnDescriptions();
    void largeJobIsRelayedUnchanged();

private:
    // Follows the job of result i to its final status, as the printer card does, and returns it.
    QString followToFinalStatus(int i);

    CloudSimProcess m_service;
    PrinterServer *m_server = nullptr;
    ResultSink *m_sink = nullptr;
    LogCapture *m_log = nullptr;
};

void TestRelayFlow::initTestCase()
{
    qRegisterMetaType<QNetworkReply::NetworkError>();
    QVERIFY(m_service.start({ QStringLiteral("--device"), kSerial + QStringLiteral("=online"),
        QStringLiteral("--pending-polls"), QStringLiteral("1") }));
}

void TestRelayFlow::init()
{
    m_log = new LogCapture;
    QVERIFY(m_service.reset());
    // A journal of its own for every case.
    OutboxJournal::resetForTesting();
    QFile::remove(QCoreApplication::applicationDirPath() + QStringLiteral("/outbox.db"));
    ProgramWaits waits;
    waits.cloudServiceBase = m_service.baseUrl();
    ProgramWaits::setForTesting(waits);
    DriverInfo info;
    info.printer_name = kPrinter;
    info.cloud_sn = kSerial;
    info.driver_name = TestPrinters::driverName();
    info.ip = QStringLiteral("127.0.0.1");
    m_server = new PrinterServer(info);
    QVERIFY(m_server->listen(QHostAddress::LocalHost, 0));
    const quint16 port = m_server->serverPort();
    QVERIFY(SpoolerFixture::freshMachineWithDriver());
    QVERIFY(SpoolerFixture::addPrinterOnPort(kPrinter, QStringLiteral("REDadez_%1").arg(port), port));
    m_sink = new ResultSink;
    connect(m_server, &PrinterServer::cloudResule, m_sink, &ResultSink::onResult, Qt::QueuedConnection);
}

void TestRelayFlow::cleanup()
{
    if (QTest::currentTestFailed()) {
        for (const QString &line : m_log->lines())
            fprintf(stderr, "  log: %s\n", qPrintable(line));
    }
    // Receivers still at work would log into a capture that is gone.
    QVERIFY(QTest::qWaitFor(
        [this] { return m_log->count(QStringLiteral("printComplete")) >= m_sink->results.size(); }, 20000));
    delete m_server;
    delete m_sink;
    delete m_log;
    ProgramWaits::resetForTesting();
}

QString TestRelayFlow::followToFinalStatus(int i)
{
    StateThread state(m_service.baseUrl(), m_sink->jobId(i));
    QSignalSpy answers(&state, &StateThread::stateResule);
    for (int round = 0; round < 10; ++round) {
        state.query();
        if (!answers.wait(TestTiming::scaled(15000)))
            return QStringLiteral("<no answer>");
        const QString status = answers.last()
                                   .at(1)
                                   .value<QJsonDocument>()
                                   .object()
                                   .value(QStringLiteral("data"))
                                   .toObject()
                                   .value(kSerial)
                                   .toString();
        if (!status.contains(QStringLiteral("正在打印")))
            return status;
    }
    return QStringLiteral("<never final>");
}

void TestRelayFlow::jobDescriptionFromTheSpooler_data()
{
    QTest::addColumn<QString>("document");
    QTest::addColumn<QDateTime>("submitted");
    QTest::addColumn<QString>("jobneed");
    QTest::newRow("afternoon UTC is past midnight") << QStringLiteral("Quarterly report.pdf") << utc(17, 5, 9)
                                                    << QStringLiteral("Quarterly report.pdf;01:05:09");
    QTest::newRow("midnight UTC") << QStringLiteral("测试页") << utc(0, 0, 0)
                                  << QStringLiteral("测试页;08:00:00");
    QTest::newRow("last second") << QStringLiteral("a;b") << utc(15, 59, 59)
                                 << QStringLiteral("a;b;23:59:59");
    QTest::newRow("no document name") << QString() << utc(9, 7, 3) << QStringLiteral(";17:07:03");
}

void TestRelayFlow::jobDescriptionFromTheSpooler()
{
    QFETCH(QString, document);
    QFETCH(QDateTime, submitted);
    QFETCH(QString, jobneed);
    QVERIFY(SpoolerFixture::printJob(kPrinter, document, "PCL job bytes", submitted) != 0);
    QVERIFY(m_sink->waitFor(1, 15000));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(m_sink->jobneed(0), jobneed);
    QCOMPARE(m_sink->jobSize(0), 13);
    QCOMPARE(winsim::openHandleCount(), 0);
}

void TestRelayFlow::noDescriptionWhenNothingPrints()
{
    QCOMPARE(currentJobDescription(kPrinter), QString());
    QCOMPARE(currentJobDescription(QStringLiteral("No Such Printer")), QString());
    // Queued but not printing: the spooler holds the job of a paused printer.
    QVERIFY(winsim::pausePrinter(kPrinter.toStdString()));
    QVERIFY(SpoolerFixture::printJob(kPrinter, QStringLiteral("held.txt"), "held", utc(12, 0, 0)) != 0);
    QCOMPARE(currentJobDescription(kPrinter), QString());
    QCOMPARE(winsim::openHandleCount(), 0);

    // A queue that cannot be read is not an empty one: the log says which step failed and why.
    QCOMPARE(m_log->count(QStringLiteral("queuedJobs")), 1); // the unknown printer above
    QVERIFY(
        m_log->lines().contains(QStringLiteral("queuedJobs OpenPrinter failed: \"No Such Printer\" 1801")));
    for (const char *call : { "OpenPrinterW", "GetPrinterW", "EnumJobsW" }) {
        m_log->clear();
        winsim::failCall(call, 1, ERROR_ACCESS_DENIED);
        QCOMPARE(currentJobDescription(kPrinter), QString());
        const QString step = QString::fromLatin1(call).chopped(1);
        QCOMPARE(m_log->linesContaining(QStringLiteral("queuedJobs")),
            QStringList(QStringLiteral("queuedJobs %1 failed: \"%2\" 5").arg(step, kPrinter)));
        QCOMPARE(winsim::openHandleCount(), 0);
    }
    QVERIFY(m_log->count(QStringLiteral("24_PrinterServer incomingConnection")) == 0);
}

void TestRelayFlow::backToBackJobsKeepTheirOwnDescriptions()
{
    QVERIFY(SpoolerFixture::printJob(kPrinter, QStringLiteral("one.txt"), "first", utc(1, 0, 0)) != 0);
    QVERIFY(SpoolerFixture::printJob(kPrinter, QStringLiteral("two.txt"), "second", utc(1, 0, 1)) != 0);
    QVERIFY(m_sink->waitFor(1, 15000));
    QCOMPARE(m_sink->jobneed(0), QStringLiteral("one.txt;09:00:00"));

    // The card follows job one; the spooler's second job is taken whole at once and waits its turn.
    QTRY_COMPARE_WITH_TIMEOUT(m_log->count(QStringLiteral("printComplete")), 2, TestTiming::scaled(15000));
    QTRY_VERIFY_WITH_TIMEOUT(queuedJobs(kPrinter).value_or(QList<SpoolerJob>({ SpoolerJob() })).isEmpty(),
        TestTiming::scaled(15000));
    QCOMPARE(followToFinalStatus(0), QStringLiteral("打印成功"));
    QCOMPARE(m_service.jobs().size(), 1);

    m_server->onJobRecorded(QStringLiteral("打印成功"));
    QVERIFY(m_sink->waitFor(2));
    // Described when it was accepted, not when its turn came: by then the spooler printed nothing.
    QCOMPARE(m_sink->jobneed(1), QStringLiteral("two.txt;09:00:01"));
    QCOMPARE(m_sink->jobSize(1), 6);
    QCOMPARE(followToFinalStatus(1), QStringLiteral("打印成功"));
    QCOMPARE(m_service.jobs().size(), 2);
}

void TestRelayFlow::largeJobIsRelayedUnchanged()
{
    QByteArray job(3000001, Qt::Uninitialized);
    for (int i = 0; i < job.size(); ++i)
        job[i] = char(i % 251);
    QVERIFY(SpoolerFixture::printJob(kPrinter, QStringLiteral("plot.prn"), job, utc(2, 30, 0)) != 0);
    QVERIFY(m_sink->waitFor(1, 15000));
    QCOMPARE(m_sink->results.first().error, QNetworkReply::NoError);
    QCOMPARE(m_sink->jobSize(0), job.size());
    QCOMPARE(m_sink->jobneed(0), QStringLiteral("plot.prn;10:30:00"));
    QVERIFY(m_service.jobData(m_sink->jobId(0)) == job);
    QCOMPARE(winsim::openHandleCount(), 0);
}

QTEST_GUILESS_MAIN(TestRelayFlow)
#include "tst_relayflow.moc"
