#include "cloudsimprocess.h"
#include "dialogwatcher.h"
#include "driveritem.h"
#include "figures.h"
#include "jobaccount.h"
#include "liveobjects.h"
#include "logcapture.h"
#include "portwatch.h"
#include "printeroutbox.h"
#include "printerserver.h"
#include "rawservice.h"
#include "reliabilityrig.h"
#include "spoolerfixture.h"
#include "testtiming.h"
#include "throttledproxy.h"
#include "tolmainwindow.h"
#include "winsim/winsimcontrol.h"

#include <QElapsedTimer>
#include <QJsonObject>
#include <QLineEdit>
#include <QTest>

// The cloud service misbehaving in every way a suite can make it, for the print post and for the
// result query, with the whole program assembled: winsim's spooler sends the job, the window's
// listener and card relay and follow it, the stand-ins answer. Every case ends with the job
// recorded once, the service holding what it was sent, the port free for the next job and
// nothing left behind.
namespace {

const char kPrinter[] = "Relay";
const char kSerial[] = "0A1B2C3D4E5F6071";
// The waits of the receiver and the card, shortened so that "too late" takes seconds.
const int kReplyLimitMs = 1500;
// How long a job may stay "正在打印", shortened likewise.
const int kPrintingLimitMs = 2500;
// No line of the log quotes more than this of an answer.
const int kLongestLogLine = 8192;

const QString kNetworkFailure = QStringLiteral("打印失败:网络访问异常");

QJsonObject fault(const char *exchange, const QJsonObject &behaviour)
{
    return QJsonObject { { QLatin1String(exchange), behaviour } };
}

// Points the program at another service base at the moment a post's answer reaches the outbox.
class RedirectOnAnswer : public QObject
{
public:
    RedirectOnAnswer(QObject *outbox, const QString &base)
        : m_outbox(outbox)
        , m_base(base)
    {
        if (!m_base.isEmpty())
            m_outbox->installEventFilter(this);
    }
    void stop() { m_base.clear(); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_outbox && event->type() == QEvent::MetaCall && !m_base.isEmpty())
            Rig::useService(m_base);
        return false;
    }

private:
    QObject *m_outbox;
    QString m_base;
};

} // namespace

class TestCloudFaults : public QObject
{
    Q_OBJECT

private:
    LiveObjects m_live;
    CloudSimProcess m_sim;
    RawService m_raw;
    Figures m_figures;

    void addCaseColumns()
    {
        QTest::addColumn<QString>("postTo");
        QTest::addColumn<QString>("queryTo");
        QTest::addColumn<QJsonObject>("simConfig");
        QTest::addColumn<int>("rawPrint");
        QTest::addColumn<int>("rawResult");
        QTest::addColumn<QString>("recorded");
        QTest::addColumn<int>("atService");
        QTest::addColumn<QString>("logged");
    }

    void runCase();

private slots:
    void initTestCase()
    {
        ProgramWaits waits;
        waits.cloudReplyTimeoutMs = kReplyLimitMs;
        // An unreachable service is tried again for a second and a half, not a quarter of an hour.
        waits.postRetryFirstDelayMs = 100;
        waits.postRetryMaxDelayMs = 400;
        waits.postRetryGiveUpMs = 1500;
        waits.printingLimitMs = kPrintingLimitMs;
        QVERIFY(Rig::startSuite(m_sim, waits));
        QVERIFY(m_raw.listen());
    }

    void init()
    {
        QVERIFY(Rig::freshCaseWithPrinter(m_sim, QLatin1String(kPrinter), QLatin1String(kSerial)));
        m_raw.clear();
    }

    void cleanupTestCase()
    {
        QVERIFY(Rig::endSuite(
            m_figures, QStringLiteral("10-cloudfaults"), QStringLiteral("The cloud service misbehaves")));
    }

    void postFaults_data();
    void postFaults() { runCase(); }
    void resultFaults_data();
    void resultFaults() { runCase(); }
    void jobsBackToBack();
    void largeJobOverASlowUplink();
    void serviceRefusingForAWhile();
};

void TestCloudFaults::postFaults_data()
{
    addCaseColumns();
    const int late = kReplyLimitMs + 1500;
    const int normal = int(RawService::Answer::Normal);
    QTest::newRow("post: connection refused")
        << "dead"
        << "" << QJsonObject() << normal << normal << kNetworkFailure << 0 << "69_Cloud receive err";
    QTest::newRow("post: answer after the limit")
        << "sim"
        << "" << fault("print", { { QStringLiteral("delayMs"), late } }) << normal << normal
        << kNetworkFailure << 1 << "69_Cloud receive err";
    QTest::newRow("post: 404") << "sim"
                               << "" << fault("print", { { QStringLiteral("fault"), QStringLiteral("404") } })
                               << normal << normal << kNetworkFailure << 0 << "code: 203";
    QTest::newRow("post: 413") << "sim"
                               << "" << fault("print", { { QStringLiteral("fault"), QStringLiteral("413") } })
                               << normal << normal << QStringLiteral("打印失败:打印文件过大") << 0
                               << "code: 299";
    QTest::newRow("post: 500") << "sim"
                               << "" << fault("print", { { QStringLiteral("fault"), QStringLiteral("500") } })
                               << normal << normal << kNetworkFailure << 0 << "code: 401";
    // An answer without a job id is followed with an empty one, which the service does not know.
    QTest::newRow("post: not JSON") << "sim"
                                    << ""
                                    << fault("print",
                                           { { QStringLiteral("fault"), QStringLiteral("non-json") } })
                                    << normal << normal << QStringLiteral("任务不存在") << 0
                                    << "56_Cloud get no JSON";
    QTest::newRow("post: []") << "sim"
                              << ""
                              << fault(
                                     "print", { { QStringLiteral("fault"), QStringLiteral("empty-array") } })
                              << normal << normal << QStringLiteral("任务不存在") << 0
                              << "56_Cloud get [] (2 bytes of JSON)";
    QTest::newRow("post: closed without an answer")
        << "sim"
        << ""
        << fault("print",
               { { QStringLiteral("fault"), QStringLiteral("drop") }, { QStringLiteral("count"), -1 } })
        << normal << normal << kNetworkFailure << 0 << "69_Cloud receive err";
    QTest::newRow("post: several MiB of JSON") << "raw"
                                               << "" << QJsonObject() << int(RawService::Answer::HugeJson)
                                               << normal << QStringLiteral("打印成功") << 1 << "";
    QTest::newRow("post: several MiB, not JSON")
        << "raw"
        << "" << QJsonObject() << int(RawService::Answer::HugeGarbage) << normal
        << QStringLiteral("任务不存在") << 1 << "";
    QTest::newRow("post: kept, connection closed unanswered")
        << "raw"
        << "" << QJsonObject() << int(RawService::Answer::KeepAndClose) << normal << kNetworkFailure << 1
        << "69_Cloud receive err";
    QTest::newRow("post: redirect") << "raw"
                                    << "" << QJsonObject() << int(RawService::Answer::Redirect) << normal
                                    << kNetworkFailure << 1 << "69_Cloud receive err";
    QTest::newRow("post: job id with # + % &")
        << "raw-odd-ids"
        << "" << QJsonObject() << normal << normal << QStringLiteral("打印成功") << 1 << "";
    QTest::newRow("post: reset mid-answer") << "raw"
                                            << "" << QJsonObject() << int(RawService::Answer::ResetMidway)
                                            << normal << kNetworkFailure << 1 << "69_Cloud receive err";
}

void TestCloudFaults::resultFaults_data()
{
    addCaseColumns();
    const int late = kReplyLimitMs + 1500;
    const int normal = int(RawService::Answer::Normal);
    QTest::newRow("result: connection refused") << "sim"
                                                << "dead" << QJsonObject() << normal << normal
                                                << kNetworkFailure << 1 << "43_StateThread receive err";
    QTest::newRow("result: answer after the limit")
        << "sim"
        << "" << fault("result", { { QStringLiteral("delayMs"), late } }) << normal << normal
        << kNetworkFailure << 1 << "43_StateThread receive err";
    QTest::newRow("result: 404") << "sim"
                                 << ""
                                 << fault("result", { { QStringLiteral("fault"), QStringLiteral("404") } })
                                 << normal << normal << kNetworkFailure << 1 << "code: 203";
    QTest::newRow("result: 413") << "sim"
                                 << ""
                                 << fault("result", { { QStringLiteral("fault"), QStringLiteral("413") } })
                                 << normal << normal << kNetworkFailure << 1 << "code: 299";
    QTest::newRow("result: 500") << "sim"
                                 << ""
                                 << fault("result", { { QStringLiteral("fault"), QStringLiteral("500") } })
                                 << normal << normal << kNetworkFailure << 1 << "code: 401";
    QTest::newRow("result: not JSON")
        << "sim"
        << "" << fault("result", { { QStringLiteral("fault"), QStringLiteral("non-json") } }) << normal
        << normal << kNetworkFailure << 1 << "Invalid receive json";
    QTest::newRow("result: []") << "sim"
                                << ""
                                << fault("result",
                                       { { QStringLiteral("fault"), QStringLiteral("empty-array") } })
                                << normal << normal << kNetworkFailure << 1 << "Invalid receive json";
    QTest::newRow("result: closed without an answer")
        << "sim"
        << ""
        << fault("result",
               { { QStringLiteral("fault"), QStringLiteral("drop") }, { QStringLiteral("count"), -1 } })
        << normal << normal << kNetworkFailure << 1 << "43_StateThread receive err";
    QTest::newRow("result: 正在打印 for ever")
        << "sim"
        << "" << QJsonObject { { QStringLiteral("pendingPolls"), 1000000 } } << normal << normal
        << kNetworkFailure << 1 << "still printing after";
    QTest::newRow("result: several MiB of JSON")
        << "raw"
        << "" << QJsonObject() << normal << int(RawService::Answer::HugeJson) << QStringLiteral("打印成功")
        << 1 << "";
    QTest::newRow("result: several MiB, not JSON")
        << "raw"
        << "" << QJsonObject() << normal << int(RawService::Answer::HugeGarbage) << kNetworkFailure << 1
        << "Invalid receive json";
    QTest::newRow("result: reset mid-answer")
        << "raw"
        << "" << QJsonObject() << normal << int(RawService::Answer::ResetMidway) << kNetworkFailure << 1
        << "43_StateThread receive err";
}

void TestCloudFaults::runCase()
{
    QFETCH(QString, postTo);
    QFETCH(QString, queryTo);
    QFETCH(QJsonObject, simConfig);
    QFETCH(int, rawPrint);
    QFETCH(int, rawResult);
    QFETCH(QString, recorded);
    QFETCH(int, atService);
    QFETCH(QString, logged);
    const QString tried = QString::fromLatin1(QTest::currentDataTag());
    const bool raw = postTo.startsWith(QLatin1String("raw"));

    if (raw)
        Rig::useService(m_raw.base());
    if (postTo == QLatin1String("raw-odd-ids"))
        m_raw.setJobIdPrefix("R#+%&=");
    LogCapture log;
    TolMainWindow window;
    const QList<DriverItem *> cards = Rig::cards(window);
    QCOMPARE(cards.size(), 1);
    DriverItem *card = cards.first();
    PrinterServer *server = Rig::serverFor(window, card);
    QVERIFY(server);
    PortWatch watch(server, card);
    DialogWatcher dialogs;

    // The card asks for the device's state when it is made; that exchange is no part of the case.
    QTRY_VERIFY(!card->form().stateEdit->text().isEmpty());
    QVERIFY(m_sim.configure(simConfig));
    m_raw.setPrintAnswer(RawService::Answer(rawPrint));
    m_raw.setResultAnswer(RawService::Answer(rawResult));
    const QString dead = QStringLiteral("http://127.0.0.1:%1").arg(Rig::deadPort());
    if (postTo == QLatin1String("dead"))
        Rig::useService(dead);
    // Once the post's answer is in, the result queries go elsewhere: the card builds its poller
    // from the base it finds when the answer reaches it. The answer comes to the printer's outbox as
    // a queued call; the base changes just before that call is made.
    RedirectOnAnswer redirect(server->outbox(), queryTo == QLatin1String("dead") ? dead : QString());

    const SentJob job { QStringLiteral("fault.txt"), Rig::jobBytes(tried, 5000) };
    QVERIFY(SpoolerFixture::printJob(QLatin1String(kPrinter), job.document, job.bytes));
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(20000));
    const QStringList record = Rig::records(QLatin1String(kSerial)).first();
    QCOMPARE(record.size(), 5);
    QCOMPARE(recordDocument(record), job.document);
    QCOMPARE(recordResult(record), recorded);
    QCOMPARE(recordSize(record), QString::number(job.bytes.size()));
    QVERIFY(Rig::waitForPortFree(watch));
    QCOMPARE(watch.receiversStarted(), 1);
    QCOMPARE(watch.jobsEnded(), 1);
    if (!logged.isEmpty())
        QVERIFY2(!log.linesContaining(logged).isEmpty(), qPrintable(logged));
    for (const QString &line : log.lines())
        QVERIFY2(line.size() <= kLongestLogLine, qPrintable(line.left(200)));
    QVERIFY2(dialogs.messages().isEmpty(), qPrintable(dialogs.messages().join(QLatin1Char('|'))));

    // A post answered too late still reaches the service; wait for it to finish its part.
    QList<QByteArray> received;
    if (raw) {
        received = m_raw.jobs();
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(m_sim.jobs().size(), atService, TestTiming::scaled(10000));
        received = Rig::serviceJobData(m_sim);
    }
    QCOMPARE(received.size(), atService);
    if (atService > 0)
        QVERIFY(received.first() == job.bytes);

    Figures::Row row = accountJobs({ job }, received, Rig::records(QLatin1String(kSerial)));
    row.tried = tried;
    row.outcome = recorded;
    row.busyAfterOutcomeMs = watch.longestBusyAfterOutcomeMs();

    // The port is free and the relay whole again: the next job goes through as if nothing had
    // happened, and the faulty job gains no second record on the way.
    redirect.stop();
    ProgramWaits::setForTesting(Rig::suiteWaits());
    const SentJob next { QStringLiteral("after.txt"), Rig::jobBytes(tried + QStringLiteral(" after"), 700) };
    Rig::jobGoesThrough(m_sim, QLatin1String(kPrinter), QLatin1String(kSerial), next, 1);
    if (QTest::currentTestFailed())
        return;
    Rig::closeCase(m_figures, row, watch);
}

// Two jobs sent back to back at the program's own pace: the second waits, unread, until the first
// is final, and is taken within the listener's retry period after that.
void TestCloudFaults::jobsBackToBack()
{
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    PrinterServer *server = Rig::serverFor(window, card);
    QVERIFY(server);
    PortWatch watch(server, card);
    QList<SentJob> sent;
    for (int i = 0; i < 3; ++i) {
        sent.append({ QStringLiteral("back-%1.txt").arg(i),
            Rig::jobBytes(QStringLiteral("back %1").arg(i), 900 + i) });
        QVERIFY(SpoolerFixture::printJob(QLatin1String(kPrinter), sent.last().document, sent.last().bytes));
    }
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 3, TestTiming::scaled(30000));
    QVERIFY(Rig::waitForPortFree(watch));
    const QList<QStringList> records = Rig::records(QLatin1String(kSerial));
    for (int i = 0; i < 3; ++i)
        QCOMPARE(recordDocument(records.at(i)), sent.at(i).document);
    QCOMPARE(Rig::serviceJobData(m_sim),
        (QList<QByteArray> { sent.at(0).bytes, sent.at(1).bytes, sent.at(2).bytes }));
    // The listener looks for a free port once a second.
    QVERIFY2(watch.longestHoldBackMs() <= 1500, qPrintable(QString::number(watch.longestHoldBackMs())));

    Figures::Row row = accountJobs(sent, Rig::serviceJobData(m_sim), records);
    row.tried = QStringLiteral("three jobs back to back at the program's own pace");
    row.outcome = QStringLiteral("打印成功, in order; next job taken %1 ms after the port was free")
                      .arg(watch.longestHoldBackMs());
    row.busyAfterOutcomeMs = watch.longestBusyAfterOutcomeMs();
    QCOMPARE(Rig::waitForJobObjectsGone(), QString());
    row.leakedHandles = winsim::openHandleCount();
    QCOMPARE(row.leakedHandles, 0);
    QCOMPARE(row.recorded, 3);
    m_figures.add(row);
}

// A 40 MiB job over a 10 Mbit/s uplink takes half a minute to upload: far longer than the post's
// limit, which counts only time without progress.
void TestCloudFaults::largeJobOverASlowUplink()
{
    ThrottledProxy uplink(m_sim.port(), 1250 * 1000);
    QVERIFY(uplink.listen());
    // The program's own limits: after the last byte has left the program, the system's buffers on
    // the way still hold seconds of a slow uplink.
    ProgramWaits ownReplyLimit = Rig::suiteWaits();
    ownReplyLimit.cloudReplyTimeoutMs = ProgramWaits().cloudReplyTimeoutMs;
    ProgramWaits::setForTesting(ownReplyLimit);
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    PortWatch watch(Rig::serverFor(window, card), card);
    Rig::useService(uplink.base());

    const SentJob job { QStringLiteral("large.pdf"),
        Rig::jobBytes(QStringLiteral("over a slow uplink"), 40 << 20) };
    QElapsedTimer relay;
    relay.start();
    QVERIFY(SpoolerFixture::printJob(QLatin1String(kPrinter), job.document, job.bytes));
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(180000));
    const qint64 seconds = relay.elapsed() / 1000;
    const QStringList record = Rig::records(QLatin1String(kSerial)).first();
    QCOMPARE(recordResult(record), QStringLiteral("打印成功"));
    QCOMPARE(recordSize(record), QString::number(job.bytes.size()));
    // The body is a third larger than the job; at the uplink's rate that is over 40 s.
    QVERIFY2(uplink.forwarded() > job.bytes.size(), qPrintable(QString::number(uplink.forwarded())));
    QVERIFY(Rig::serviceJobData(m_sim) == QList<QByteArray> { job.bytes });

    Figures::Row row = Rig::accountCase(m_sim, { job }, QLatin1String(kSerial));
    row.tried = QStringLiteral("a 40 MiB job through a 1.25 MB/s uplink, post limit 15000 ms of silence");
    row.outcome = QStringLiteral("打印成功 after %1 s").arg(seconds);
    QVERIFY(Rig::waitForPortFree(watch));
    ProgramWaits::setForTesting(Rig::suiteWaits());
    Rig::closeCase(m_figures, row, watch);
}

// The service refuses connections for 20 s (a restart, say), then takes them: the job waits,
// shows "等待重试", and prints once, with the program's own schedule of retries.
void TestCloudFaults::serviceRefusingForAWhile()
{
    const quint16 port = Rig::deadPort();
    ProgramWaits ownRetries = Rig::suiteWaits();
    const ProgramWaits built;
    ownRetries.postRetryFirstDelayMs = built.postRetryFirstDelayMs;
    ownRetries.postRetryMaxDelayMs = built.postRetryMaxDelayMs;
    ownRetries.postRetryGiveUpMs = built.postRetryGiveUpMs;
    ownRetries.cloudServiceBase = QStringLiteral("http://127.0.0.1:%1").arg(port);
    ProgramWaits::setForTesting(ownRetries);
    TolMainWindow window;
    DriverItem *card = Rig::cards(window).value(0);
    QVERIFY(card);
    PortWatch watch(Rig::serverFor(window, card), card);

    const SentJob job { QStringLiteral("retried.txt"),
        Rig::jobBytes(QStringLiteral("refused a while"), 3000) };
    QVERIFY(SpoolerFixture::printJob(QLatin1String(kPrinter), job.document, job.bytes));
    QTRY_COMPARE_WITH_TIMEOUT(
        card->form().stateEdit->text(), QStringLiteral("等待重试"), TestTiming::scaled(10000));
    QTest::qWait(20000);
    QVERIFY(Rig::records(QLatin1String(kSerial)).isEmpty());
    CloudSimProcess restarted;
    QVERIFY2(restarted.start({ QStringLiteral("--pending-polls"), QStringLiteral("0"),
                                 QStringLiteral("--default-device"), QStringLiteral("online") },
                 port),
        qPrintable(restarted.error()));
    // The waits double up to 16 s by now, so the next attempt comes within that.
    QTRY_COMPARE_WITH_TIMEOUT(Rig::records(QLatin1String(kSerial)).size(), 1, TestTiming::scaled(40000));
    QCOMPARE(recordResult(Rig::records(QLatin1String(kSerial)).first()), QStringLiteral("打印成功"));
    QCOMPARE(restarted.jobs().size(), 1);
    QVERIFY(card->form().stateEdit->text() != QStringLiteral("等待重试"));

    Figures::Row row = Rig::accountCase(restarted, { job }, QLatin1String(kSerial));
    row.tried = QStringLiteral("service refuses connections for 20 s, then accepts");
    row.outcome = QStringLiteral("等待重试, then 打印成功, posted once");
    QVERIFY(Rig::waitForPortFree(watch));
    ProgramWaits::setForTesting(Rig::suiteWaits());
    Rig::closeCase(m_figures, row, watch);
}

QTEST_MAIN(TestCloudFaults)
#include "tst_cloudfaults.moc"
