#include "benchrunner.h"

#include "benchchild.h"
#include "benchjob.h"
#include "loopbacksender.h"
#include "printbodywriter.h"
#include "procstats.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStandardPaths>
#include <QSysInfo>
#include <QTcpServer>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <vector>

#include <unistd.h>

namespace {
constexpr qint64 kMiB = 1 << 20;
constexpr qint64 kGiB = qint64(1) << 30;
// The largest job the program relays.
constexpr qint64 kMaxJobBytes = 4 * kGiB;
// The most a relay of any size may hold in memory.
constexpr double kPeakLimitMiB = 100;
// Generous: a 1 GiB job through a slow machine's pipeline still ends well inside it.
constexpr int kJobTimeoutMs = 10 * 60 * 1000;
// A window that does not answer within one frame at 60 Hz stutters.
constexpr double kFrameMs = 16;
constexpr int kStandInNiceness = 10;
constexpr double kHistoryOpenLimitMs = 200;
constexpr double kHistoryRefreshLimitMs = 5;

// How long the window's construction may take over this many printers; 0 for no target.
double startupLimitSeconds(int printers)
{
    return printers == 200 ? 0.3 : printers == 1000 ? 1.5 : 0;
}

QString metOrMissed(bool met)
{
    return met ? QStringLiteral("met") : QStringLiteral("MISSED");
}

double toMiB(qint64 bytes)
{
    return double(bytes) / kMiB;
}

QString quoted(const QString &path)
{
    return QLatin1Char('\'') + QString(path).replace(QLatin1Char('\''), QLatin1String("'\\''"))
        + QLatin1Char('\'');
}

// A port nobody listens on right now, for a listener the benchmark does not start itself.
quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QJsonValue figureJson(bool ok, double seconds, qint64 peakBytes, qint64 jobBytes)
{
    if (!ok)
        return QJsonValue();
    QJsonObject figure { { QStringLiteral("s"), seconds } };
    if (peakBytes > 0) {
        figure.insert(QStringLiteral("peak_mib"), toMiB(peakBytes));
        figure.insert(QStringLiteral("peak_per_job"), double(peakBytes) / double(jobBytes));
    }
    return figure;
}
} // namespace

BenchRunner::BenchRunner(const Options &options)
    : m_options(options)
    , m_out(stdout)
{
}

int BenchRunner::run()
{
    if (!prepare())
        return 2;

    m_out << "PrintCourier relay benchmark: " << QThread::idealThreadCount() << " cores, "
          << QSysInfo::prettyProductName() << ", Qt " << qVersion() << "\n"
          << "limit: loopback receive + Base64 into the body, nothing else; naive: "
          << (m_listener.isEmpty() ? QStringLiteral("not run (needs socat or nc, base64, curl)")
                                   : m_listener + QStringLiteral(" to a file, base64, curl POST"))
          << "; relay: listener, receiver and cloud client of the program.\n"
          << "Times run from the sender's first byte to the stand-in's answer (it answers once it has the "
             "whole body and decoded it); median of "
          << m_options.runs << " run(s), peak = largest peak RSS of the process doing the work.\n\n";
    m_out << QStringLiteral("%1 %2 %3 %4 %5 %6\n")
                 .arg(QStringLiteral("job"), -9)
                 .arg(QStringLiteral("path"), -6)
                 .arg(QStringLiteral("seconds"), 9)
                 .arg(QStringLiteral("MB/s"), 8)
                 .arg(QStringLiteral("peak MiB"), 9)
                 .arg(QStringLiteral("peak/job"), 9);
    m_out.flush();

    for (int mib : m_options.sizesMiB) {
        const BenchJob job(mib * kMiB);
        const QString label = QStringLiteral("%1 MiB").arg(mib);
        const Figure limit = repeated([&] { return limitRun(job); });
        printRow(label, QStringLiteral("limit"), limit, job.size());
        Figure naive;
        if (!m_listener.isEmpty()) {
            naive = repeated([&] { return naiveRun(job); });
            printRow(QString(), QStringLiteral("naive"), naive, job.size());
        }
        const Figure relay = repeated([&] { return relayRun(job, false); });
        printRow(QString(), QStringLiteral("relay"), relay, job.size());
        QJsonObject posts;
        if (m_options.uploadDetail) {
            const qint64 bodyBytes = PrintBodyWriter(benchSerial()).bodyBytesFor(job.size());
            for (const QString &how :
                { QStringLiteral("raw"), QStringLiteral("qnam"), QStringLiteral("qnam-sync") }) {
                const Figure post = repeated([&] { return postRun(job, how); });
                if (!post.ok) {
                    printRow(QString(), QStringLiteral("post ") + how, post, job.size());
                    continue;
                }
                m_out << QStringLiteral("%1 %2 %3   (the finished body alone: %4 MB/s of body)\n")
                             .arg(QString(), -9)
                             .arg(QStringLiteral("post ") + how, -15)
                             .arg(post.seconds, 0, 'f', 3)
                             .arg(double(bodyBytes) / 1e6 / post.seconds, 0, 'f', 0);
                posts.insert(how, post.seconds);
            }
        }

        QJsonObject entry { { QStringLiteral("mib"), mib },
            { QStringLiteral("limit"), figureJson(limit.ok, limit.seconds, limit.peakBytes, job.size()) },
            { QStringLiteral("naive"), figureJson(naive.ok, naive.seconds, naive.peakBytes, job.size()) },
            { QStringLiteral("relay"), figureJson(relay.ok, relay.seconds, relay.peakBytes, job.size()) } };
        if (!posts.isEmpty())
            entry.insert(QStringLiteral("post_s"), posts);
        if (relay.ok && relay.answerSeconds >= 0 && relay.sentSeconds >= 0 && relay.wholeSeconds >= 0)
            entry.insert(QStringLiteral("relay_after_whole_ms"),
                QJsonObject { { QStringLiteral("in"), relay.inSeconds * 1e3 },
                    { QStringLiteral("to_spool_file"), (relay.wholeSeconds - relay.inSeconds) * 1e3 },
                    { QStringLiteral("to_body_sent"), (relay.sentSeconds - relay.wholeSeconds) * 1e3 },
                    { QStringLiteral("to_answer"), (relay.answerSeconds - relay.sentSeconds) * 1e3 },
                    { QStringLiteral("to_card"), (relay.seconds - relay.answerSeconds) * 1e3 } });
        QString ratios;
        if (relay.ok && limit.ok) {
            entry.insert(QStringLiteral("relay_vs_limit"), relay.seconds / limit.seconds);
            ratios += QStringLiteral("relay/limit %1").arg(relay.seconds / limit.seconds, 0, 'f', 2);
        }
        if (relay.ok && naive.ok) {
            entry.insert(QStringLiteral("relay_vs_naive"), relay.seconds / naive.seconds);
            ratios += QStringLiteral("  relay/naive %1").arg(relay.seconds / naive.seconds, 0, 'f', 2);
        }
        if (!ratios.isEmpty())
            m_out << QStringLiteral("%1 %2\n").arg(QString(), -9).arg(ratios);
        m_out.flush();
        m_jobs.append(entry);
    }

    if (m_options.gibibyte) {
        m_out << "\n";
        // Jobs relay whole up to the program's limit; one byte more is refused without a post.
        QList<qint64> wholeSizes { kGiB };
        if (m_options.fourGibibytes)
            wholeSizes.append(kMaxJobBytes);
        for (const qint64 size : qAsConst(wholeSizes)) {
            const BenchJob whole(size);
            const Figure relayed = relayRun(whole, false);
            const QString label = QStringLiteral("%1 GiB").arg(size / kGiB);
            printRow(label, QStringLiteral("relay"), relayed, whole.size());
            m_gib.insert(
                label == QLatin1String("1 GiB") ? QStringLiteral("whole") : QStringLiteral("whole_4"),
                figureJson(relayed.ok, relayed.seconds, relayed.peakBytes, size));
        }
        const BenchJob over(kMaxJobBytes + 1);
        const Figure refused = relayRun(over, true);
        m_out << QStringLiteral("%1 %2 %3 s, peak %4 MiB: %5\n")
                     .arg(QStringLiteral("4 GiB+1"), -9)
                     .arg(QStringLiteral("relay"), -6)
                     .arg(refused.seconds, 0, 'f', 3)
                     .arg(toMiB(refused.peakBytes), 0, 'f', 1)
                     .arg(refused.ok ? QStringLiteral("refused (error 299), nothing posted")
                                     : QStringLiteral("FAILED: ") + refused.failure);
        m_gib.insert(QStringLiteral("refused"),
            figureJson(refused.ok, refused.seconds, refused.peakBytes, kMaxJobBytes + 1));
        m_out.flush();
    }

    for (const int printers : qAsConst(m_options.printers))
        runStartup(printers);
    if (m_options.history && m_options.historyRecords > 0)
        runHistory();
    if (m_options.responsive)
        runResponsive();

    reportTargets();

    const QJsonObject result { { QStringLiteral("cores"), QThread::idealThreadCount() },
        { QStringLiteral("runs"), m_options.runs }, { QStringLiteral("jobs"), m_jobs },
        { QStringLiteral("gib"), m_gib }, { QStringLiteral("startup"), m_startup },
        { QStringLiteral("responsive"), m_responsive }, { QStringLiteral("history"), m_history },
        { QStringLiteral("ok"), m_allOk } };
    m_out << "RESULT " << QJsonDocument(result).toJson(QJsonDocument::Compact) << "\n";
    m_out.flush();
    return m_allOk ? 0 : 1;
}

bool BenchRunner::prepare()
{
    if (!m_work.isValid()) {
        m_out << "error: no temporary folder\n";
        return false;
    }
    // The children's spooler is a winsim of the benchmark's own, never the user's; widgets need no screen.
    qputenv("WINSIM_ROOT", QFile::encodeName(m_work.filePath(QStringLiteral("winsim"))));
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // The stand-in keeps only each job's size and CRC-32, so that no disk writes enter the
    // measurements, and takes bodies above the largest job the relay posts.
    m_standIn.setKeepJobFiles(false);
    // In the field the service runs elsewhere; here it shares the two cores with the program, and its
    // decoding of twenty 16 MiB bodies would otherwise take most of their time. Niced, it still gets
    // every cycle the program leaves, but does not keep the window's thread waiting for a core.
    QStringList flags { QStringLiteral("--max-body"), QStringLiteral("6G"),
        QStringLiteral("--default-device"), QStringLiteral("online"), QStringLiteral("--nice"),
        QString::number(kStandInNiceness) };
    // The quick round keeps the cards' result polling to one query a job.
    if (m_options.smoke)
        flags << QStringLiteral("--pending-polls") << QStringLiteral("0");
    if (!m_standIn.start(flags)) {
        m_out << "error: " << m_standIn.error() << "\n";
        return false;
    }
    if ((!m_options.printers.isEmpty() || m_options.responsive || m_options.history)
        && !prepareProgramFolder()) {
        m_out << "error: cannot lay out a program folder in " << m_work.path() << "\n";
        return false;
    }

    if (m_options.naive && !QStandardPaths::findExecutable(QStringLiteral("base64")).isEmpty()
        && !QStandardPaths::findExecutable(QStringLiteral("curl")).isEmpty()) {
        if (!QStandardPaths::findExecutable(QStringLiteral("socat")).isEmpty())
            m_listener = QStringLiteral("socat");
        else if (!QStandardPaths::findExecutable(QStringLiteral("nc")).isEmpty())
            m_listener = QStringLiteral("nc");
    }
    if (!m_listener.isEmpty()) {
        // The JSON around the Base64 text, exactly as the relay writes it.
        const QByteArray empty = PrintBodyWriter(benchSerial()).finish();
        const int split = empty.indexOf("\"printData\": \"") + int(qstrlen("\"printData\": \""));
        QFile head(m_work.filePath(QStringLiteral("head.json")));
        QFile tail(m_work.filePath(QStringLiteral("tail.json")));
        if (!head.open(QIODevice::WriteOnly) || !tail.open(QIODevice::WriteOnly)
            || head.write(empty.left(split)) != split
            || tail.write(empty.mid(split)) != empty.size() - split) {
            m_out << "error: cannot write the naive pipeline's files\n";
            return false;
        }
    }
    return true;
}

BenchRunner::Figure BenchRunner::repeated(const std::function<Figure()> &once)
{
    QList<Figure> figures;
    qint64 peak = -1;
    for (int i = 0; i < qMax(1, m_options.runs); ++i) {
        const Figure figure = once();
        if (!figure.ok)
            return figure;
        peak = qMax(peak, figure.peakBytes);
        figures.append(figure);
    }
    std::sort(figures.begin(), figures.end(),
        [](const Figure &a, const Figure &b) { return a.seconds < b.seconds; });
    Figure median = figures.at(figures.size() / 2);
    median.peakBytes = peak;
    return median;
}

BenchRunner::Delivery BenchRunner::deliver(
    const QStringList &arguments, const BenchJob &job, quint16 port, QString *failure)
{
    Delivery delivery;
    QProcess child;
    if (!startChild(child, arguments, failure))
        return delivery;
    if (port == 0) {
        const QList<QByteArray> ready = awaitLine(child, "ready", 10000, failure);
        if (ready.size() < 2)
            return delivery;
        port = quint16(ready.at(1).toUInt());
    }
    LoopbackSender sender(job, port);
    sender.start();
    delivery.done = awaitLine(child, "done", kJobTimeoutMs, failure);
    delivery.sent = sender.wait();
    delivery.firstByteNs = sender.firstByteNs();
    delivery.sendError = sender.error();
    finishChild(child);
    return delivery;
}

BenchRunner::Figure BenchRunner::limitRun(const BenchJob &job)
{
    Figure figure;
    const Delivery delivery = deliver({ QStringLiteral("limit") }, job, 0, &figure.failure);
    const QList<QByteArray> &done = delivery.done;
    if (done.size() < 5)
        return figure;
    if (!delivery.sent || done.at(2).toLongLong() != job.size()) {
        figure.failure = QStringLiteral("received %1 of %2 bytes %3")
                             .arg(QString::fromUtf8(done.at(2)))
                             .arg(job.size())
                             .arg(delivery.sendError);
        return figure;
    }
    figure.seconds = double(done.at(1).toLongLong() - delivery.firstByteNs) / 1e9;
    figure.peakBytes = done.at(4).toLongLong();
    figure.ok = true;
    return figure;
}

QString BenchRunner::naiveCommand(quint16 port) const
{
    const QString job = quoted(m_work.filePath(QStringLiteral("naive-job.bin")));
    const QString body = quoted(m_work.filePath(QStringLiteral("naive-body.json")));
    const QString answer = quoted(m_work.filePath(QStringLiteral("naive-answer.json")));
    const QString listen = m_listener == QLatin1String("socat")
        ? QStringLiteral("socat -u TCP-LISTEN:%1,bind=127.0.0.1,reuseaddr OPEN:%2,creat,trunc")
              .arg(port)
              .arg(job)
        : QStringLiteral("nc -d -l 127.0.0.1 %1 > %2").arg(port).arg(job);
    return QStringLiteral("set -e; %1; { cat %2; base64 -w0 %3; cat %4; } > %5; "
                          "curl -sS -f -o %6 -H 'Content-Type: application/json;charset=UTF-8' "
                          "--data-binary @%5 %7/v1.1/transparentPrinting; rm -f %3 %5")
        .arg(listen, quoted(m_work.filePath(QStringLiteral("head.json"))), job,
            quoted(m_work.filePath(QStringLiteral("tail.json"))), body, answer, m_standIn.baseUrl());
}

BenchRunner::Figure BenchRunner::naiveRun(const BenchJob &job)
{
    Figure figure;
    const QString answerPath = m_work.filePath(QStringLiteral("naive-answer.json"));
    QFile::remove(answerPath);
    const quint16 port = freePort();
    const Delivery delivery
        = deliver({ QStringLiteral("shell"), naiveCommand(port) }, job, port, &figure.failure);
    const QList<QByteArray> &done = delivery.done;
    if (done.size() < 4)
        return figure;
    if (!delivery.sent || done.at(2) != "0") {
        figure.failure = QStringLiteral("pipeline exit code %1 %2")
                             .arg(QString::fromUtf8(done.at(2)), delivery.sendError);
        return figure;
    }
    QFile answerFile(answerPath);
    answerFile.open(QIODevice::ReadOnly);
    const QString jobId = QJsonDocument::fromJson(answerFile.readAll())
                              .object()
                              .value(QStringLiteral("data"))
                              .toObject()
                              .value(QStringLiteral("tolvixId"))
                              .toString();
    if (!verifyAtStandIn(job, jobId, &figure.failure))
        return figure;
    figure.seconds = double(done.at(1).toLongLong() - delivery.firstByteNs) / 1e9;
    figure.peakBytes = done.at(3).toLongLong();
    figure.ok = true;
    return figure;
}

BenchRunner::Figure BenchRunner::relayRun(const BenchJob &job, bool refusalExpected)
{
    Figure figure;
    const int jobsBefore = refusalExpected ? m_standIn.jobs().size() : 0;
    const Delivery delivery
        = deliver({ QStringLiteral("relay"), m_standIn.baseUrl() }, job, 0, &figure.failure);
    const QList<QByteArray> &done = delivery.done;
    if (done.size() < 6)
        return figure;
    figure.seconds = double(done.at(1).toLongLong() - delivery.firstByteNs) / 1e9;
    figure.peakBytes = done.at(5).toLongLong();
    // Each stage's moment from the first byte; -1 for one the child could not see.
    const auto since = [&](int word) {
        const qint64 at = done.size() > word ? done.at(word).toLongLong() : 0;
        return at > 0 ? double(at - delivery.firstByteNs) / 1e9 : -1.0;
    };
    figure.inSeconds = since(6);
    figure.wholeSeconds = since(7);
    figure.sentSeconds = since(8);
    figure.answerSeconds = since(9);
    // The upload's end is told through the window's thread, the answer in the poster's own: on a
    // busy machine the first can come after the second, and then the body was surely sent by then.
    if (figure.sentSeconds > figure.answerSeconds && figure.answerSeconds >= 0) {
        figure.sentSeconds = figure.answerSeconds;
        figure.sentToldLate = true;
    }
    const int error = done.at(2).toInt();
    const qint64 reportedSize = done.at(3).toLongLong();
    if (!delivery.sent) {
        figure.failure = delivery.sendError;
        return figure;
    }
    if (refusalExpected) {
        if (error != 299 || m_standIn.jobs().size() != jobsBefore) {
            figure.failure = QStringLiteral("not refused: error %1, %2 jobs at the stand-in before, %3 after")
                                 .arg(error)
                                 .arg(jobsBefore)
                                 .arg(m_standIn.jobs().size());
            return figure;
        }
        figure.ok = true;
        return figure;
    }
    if (error != 0 || reportedSize != job.size()) {
        figure.failure = QStringLiteral("relay error %1, job size %2").arg(error).arg(reportedSize);
        return figure;
    }
    figure.ok = verifyAtStandIn(job, QString::fromUtf8(done.at(4)), &figure.failure);
    return figure;
}

BenchRunner::Figure BenchRunner::postRun(const BenchJob &job, const QString &how)
{
    Figure figure;
    QProcess child;
    if (!startChild(child, { QStringLiteral("post"), how, m_standIn.baseUrl(), QString::number(job.size()) },
            &figure.failure))
        return figure;
    const QList<QByteArray> done = awaitLine(child, "done", kJobTimeoutMs, &figure.failure);
    finishChild(child);
    if (done.size() < 4)
        return figure;
    if (done.at(3) != "200") {
        figure.failure = QStringLiteral("HTTP status %1").arg(QString::fromUtf8(done.at(3)));
        return figure;
    }
    figure.seconds = double(done.at(2).toLongLong() - done.at(1).toLongLong()) / 1e9;
    figure.ok = true;
    return figure;
}

void BenchRunner::runStartup(int printers)
{
    m_out << "\n";
    QProcess child;
    QString failure;
    QList<QByteArray> figures;
    if (startWindowChild(child, QStringLiteral("startup"), printers, { m_standIn.baseUrl() }, &failure))
        figures = awaitLine(child, "startup", 5 * 60 * 1000, &failure);
    finishChild(child);
    if (figures.size() < 8 || figures.at(5).toInt() != printers) {
        if (failure.isEmpty())
            failure = QStringLiteral("%1 cards for %2 printers")
                          .arg(QString::fromUtf8(figures.value(5)))
                          .arg(printers);
        m_out << "start-up with " << printers << " printers: FAILED: " << failure << "\n";
        m_allOk = false;
        return;
    }
    const double seconds = double(figures.at(1).toLongLong()) / 1e9;
    const double shownSeconds = double(figures.at(7).toLongLong()) / 1e9;
    const qint64 grown = figures.at(3).toLongLong() - figures.at(2).toLongLong();
    m_out << QStringLiteral(
        "start-up with %1 printers: window constructed in %2 s, shown (first paint) after %10 s; "
        "resident memory %3 -> %4 MiB (+%5 MiB, %6 KiB a printer), peak %7 MiB; %8 cards, %9 listening\n")
                 .arg(printers)
                 .arg(seconds, 0, 'f', 3)
                 .arg(toMiB(figures.at(2).toLongLong()), 0, 'f', 1)
                 .arg(toMiB(figures.at(3).toLongLong()), 0, 'f', 1)
                 .arg(toMiB(grown), 0, 'f', 1)
                 .arg(double(grown) / 1024 / printers, 0, 'f', 1)
                 .arg(toMiB(figures.at(4).toLongLong()), 0, 'f', 1)
                 .arg(QString::fromUtf8(figures.at(5)), QString::fromUtf8(figures.at(6)))
                 .arg(shownSeconds, 0, 'f', 3);
    m_out.flush();
    m_startup.append(QJsonObject { { QStringLiteral("printers"), printers }, { QStringLiteral("s"), seconds },
        { QStringLiteral("shown_s"), shownSeconds },
        { QStringLiteral("rss_before_mib"), toMiB(figures.at(2).toLongLong()) },
        { QStringLiteral("rss_after_mib"), toMiB(figures.at(3).toLongLong()) },
        { QStringLiteral("rss_growth_mib"), toMiB(grown) },
        { QStringLiteral("peak_mib"), toMiB(figures.at(4).toLongLong()) },
        { QStringLiteral("cards"), figures.at(5).toInt() },
        { QStringLiteral("listening"), figures.at(6).toInt() } });
}

void BenchRunner::runHistory()
{
    const int records = m_options.historyRecords;
    m_out << "\n";
    QProcess child;
    QString failure;
    QList<QByteArray> figures;
    if (!resetProgramFolder())
        failure = QStringLiteral("cannot empty the program folder %1").arg(m_programFolder);
    else if (startChild(child,
                 { QStringLiteral("history"), QString::number(records), QString::number(freePortRun(1)) },
                 &failure, true))
        figures = awaitLine(child, "history", 5 * 60 * 1000, &failure);
    finishChild(child);
    if (figures.size() < 6) {
        m_out << "history dialog over " << records << " records: FAILED: " << failure << "\n";
        m_allOk = false;
        return;
    }
    const double constructMs = double(figures.at(1).toLongLong()) / 1e6;
    const double openMs = double(figures.at(2).toLongLong()) / 1e6;
    const double refreshMs = double(figures.at(3).toLongLong()) / 1e6;
    const double idleMs = double(figures.at(4).toLongLong()) / 1e6;
    m_out << QStringLiteral(
        "history dialog over %1 records of today: constructed in %2 ms, shown (first paint) "
        "at %3 ms; one refresh after one more record %4 ms (median), with nothing new "
        "%5 ms; %6 rows at the end\n")
                 .arg(records)
                 .arg(constructMs, 0, 'f', 1)
                 .arg(openMs, 0, 'f', 1)
                 .arg(refreshMs, 0, 'f', 2)
                 .arg(idleMs, 0, 'f', 3)
                 .arg(QString::fromUtf8(figures.at(5)));
    m_out.flush();
    m_history = QJsonObject { { QStringLiteral("records"), records },
        { QStringLiteral("construct_ms"), constructMs }, { QStringLiteral("open_ms"), openMs },
        { QStringLiteral("refresh_ms"), refreshMs }, { QStringLiteral("idle_refresh_ms"), idleMs } };
}

void BenchRunner::runResponsive()
{
    const int printers = m_options.responsivePrinters;
    const int records = m_options.history ? m_options.historyRecords : 0;
    const BenchJob job(qint64(m_options.responsiveMiB) * kMiB);
    m_out << "\n";
    const QString what = QStringLiteral("responsiveness, %1 printers each sent a %2 MiB job at once, history "
                                        "dialog open over %3 records, the stand-in at niceness %4")
                             .arg(printers)
                             .arg(m_options.responsiveMiB)
                             .arg(records)
                             .arg(kStandInNiceness);
    QString failure;
    QProcess child;
    QList<QByteArray> ready;
    QList<QByteArray> recorded;
    QList<QByteArray> responsive;
    QList<QByteArray> heldBefore;
    QList<QByteArray> heldWhile;
    QList<QByteArray> guiWork;
    QList<QByteArray> machine;
    qint64 firstByteNs = std::numeric_limits<qint64>::max();
    QString sendError;
    quint16 basePort = 0;
    if (startWindowChild(child, QStringLiteral("responsive"), printers,
            { QString::number(records), m_standIn.baseUrl() }, &failure, &basePort))
        ready = awaitLine(child, "ready", 2 * 60 * 1000, &failure);
    if (ready.size() >= 2 && ready.at(1).toInt() != printers) {
        failure = QStringLiteral("only %1 of %2 printers listening")
                      .arg(QString::fromUtf8(ready.at(1)))
                      .arg(printers);
    } else if (ready.size() >= 2) {
        // We are the spooler: one connection per printer, all at once.
        std::vector<std::unique_ptr<LoopbackSender>> senders;
        for (int i = 0; i < printers; ++i)
            senders.push_back(std::make_unique<LoopbackSender>(job, quint16(basePort + i)));
        for (const auto &sender : senders)
            sender->start();
        recorded = awaitLine(child, "recorded", kJobTimeoutMs, &failure);
        for (const auto &sender : senders) {
            if (!sender->wait() && sendError.isEmpty())
                sendError = sender->error();
            if (sender->firstByteNs() > 0)
                firstByteNs = qMin(firstByteNs, sender->firstByteNs());
        }
        if (recorded.size() >= 5) {
            child.write("first " + QByteArray::number(firstByteNs) + "\n");
            responsive = awaitLine(child, "responsive", 60 * 1000, &failure);
            machine = awaitLine(child, "machine", 10 * 1000, &failure);
            heldBefore = awaitLine(child, "heldbefore", 10 * 1000, &failure);
            guiWork = awaitLine(child, "gui", 10 * 1000, &failure);
            heldWhile = awaitLine(child, "heldwhile", 10 * 1000, &failure);
        }
    }
    finishChild(child);
    if (responsive.size() < 6) {
        m_out << what << ": FAILED: " << failure << "\n";
        m_allOk = false;
        return;
    }

    const int recordedJobs = recorded.at(2).toInt();
    const int printed = recorded.at(3).toInt();
    int intact = 0;
    QString intactFailure;
    for (const QByteArray &id : recorded.at(4).split(',')) {
        if (id != "-" && verifyAtStandIn(job, QString::fromUtf8(id), &intactFailure))
            ++intact;
    }
    const double worstMs = double(responsive.at(1).toLongLong()) / 1e6;
    const double p99Ms = double(responsive.at(2).toLongLong()) / 1e6;
    const double spanSeconds = double(recorded.at(1).toLongLong() - firstByteNs) / 1e9;
    m_out << what << ":\n"
          << QStringLiteral(
                 "  window's thread late by at most %1 ms (99th percentile %2 ms) over %3 ticks of a "
                 "1 ms timer (%10 of them over 16 ms late), from the first byte until every card "
                 "had recorded its job (%4 s); %5 of %6 jobs recorded (%7 printed), %8 intact at the "
                 "stand-in; the dialog shows %9 rows\n")
                 .arg(worstMs, 0, 'f', 1)
                 .arg(p99Ms, 0, 'f', 1)
                 .arg(QString::fromUtf8(responsive.at(3)))
                 .arg(spanSeconds, 0, 'f', 2)
                 .arg(recordedJobs)
                 .arg(printers)
                 .arg(printed)
                 .arg(intact)
                 .arg(QString::fromUtf8(responsive.at(4)))
                 .arg(QString::fromUtf8(responsive.at(5)));
    double ownWorstMs = -1;
    double machineStallMs = -1;
    if (machine.size() >= 6) {
        machineStallMs = double(machine.at(2).toLongLong()) / 1e6;
        ownWorstMs = double(machine.at(3).toLongLong()) / 1e6;
        m_out << QStringLiteral(
            "  the machine itself: a bare thread (%1) sleeping 1 ms at a time woke up to %2 ms "
            "late in that time; less those stalls, the window's thread was late by at most "
            "%3 ms (99th percentile %4 ms; %5 ticks over 16 ms)\n")
                     .arg(machine.at(1) == "1" ? QStringLiteral("real-time priority")
                                               : QStringLiteral("normal priority, real-time refused"))
                     .arg(machineStallMs, 0, 'f', 1)
                     .arg(ownWorstMs, 0, 'f', 1)
                     .arg(double(machine.at(4).toLongLong()) / 1e6, 0, 'f', 1)
                     .arg(QString::fromUtf8(machine.at(5)));
    }
    if (responsive.size() >= 9) {
        m_out << QStringLiteral(
            "  over the wait of the worst tick less those stalls the window's thread ran %1 ms and "
            "was ready but waited for a core %2 ms, and some core stalled %3 ms; the rest it slept "
            "or was blocked\n")
                     .arg(double(responsive.at(6).toLongLong()) / 1e6, 0, 'f', 1)
                     .arg(double(responsive.at(7).toLongLong()) / 1e6, 0, 'f', 1)
                     .arg(double(responsive.at(8).toLongLong()) / 1e6, 0, 'f', 1);
    }
    if (heldBefore.size() >= 2 && heldWhile.size() >= 2) {
        const double dueMs = double(heldBefore.at(1).toLongLong() - firstByteNs) / 1e6;
        m_out << QStringLiteral(
            "  that tick fell due %1 ms after the first byte; the window's thread had last "
            "logged \"%2\"")
                     .arg(dueMs, 0, 'f', 1)
                     .arg(QString::fromUtf8(heldBefore.mid(2).join(' ')));
        if (heldWhile.size() > 2)
            m_out << QStringLiteral(" and, before the tick fired, \"%1\"")
                         .arg(QString::fromUtf8(heldWhile.mid(2).join(' ')));
        m_out << "\n";
    }
    double longestMs = 0;
    double guiCpuMs = 0;
    double longestCpuMs = 0;
    if (guiWork.size() >= 6) {
        guiCpuMs = double(guiWork.at(1).toLongLong()) / 1e6;
        longestMs = double(guiWork.at(3).toLongLong()) / 1e6;
        longestCpuMs = double(guiWork.at(4).toLongLong()) / 1e6;
        m_out << QStringLiteral(
            "  the window's thread worked %1 ms of CPU in that time; its longest single event "
            "took %2 ms, %3 ms of it running (%4), and %5 events took over 16 ms\n")
                     .arg(guiCpuMs, 0, 'f', 0)
                     .arg(longestMs, 0, 'f', 1)
                     .arg(longestCpuMs, 0, 'f', 1)
                     .arg(QString::fromUtf8(guiWork.mid(5).join(' ')))
                     .arg(QString::fromUtf8(guiWork.at(2)));
    }
    if (printed != printers && recorded.size() > 5)
        m_out << "  a job not printed was recorded as \"" << QString::fromUtf8(recorded.mid(5).join(' '))
              << "\"\n";
    if (!sendError.isEmpty())
        m_out << "  sending: " << sendError << "\n";
    if (intact != printers) {
        m_out << "  FAILED: " << intact << " of " << printers << " jobs intact at the stand-in "
              << intactFailure << "\n";
        m_allOk = false;
    }
    m_out.flush();
    m_responsive = QJsonObject { { QStringLiteral("printers"), printers },
        { QStringLiteral("job_mib"), m_options.responsiveMiB }, { QStringLiteral("records"), records },
        { QStringLiteral("worst_ms"), worstMs }, { QStringLiteral("p99_ms"), p99Ms },
        { QStringLiteral("machine_stall_ms"), machineStallMs },
        { QStringLiteral("own_worst_ms"), ownWorstMs }, { QStringLiteral("ticks"), responsive.at(3).toInt() },
        { QStringLiteral("ticks_over_16_ms"), responsive.at(5).toInt() },
        { QStringLiteral("gui_cpu_ms"), guiCpuMs }, { QStringLiteral("longest_event_ms"), longestMs },
        { QStringLiteral("longest_event_cpu_ms"), longestCpuMs }, { QStringLiteral("s"), spanSeconds },
        { QStringLiteral("recorded"), recordedJobs }, { QStringLiteral("printed"), printed },
        { QStringLiteral("intact"), intact } };
}

void BenchRunner::reportTargets()
{
    // The targets, read from this run only.
    m_out << "\n";
    for (const QJsonValue &value : qAsConst(m_jobs)) {
        const QJsonObject entry = value.toObject();
        const int mib = entry.value(QStringLiteral("mib")).toInt();
        if (mib < 128)
            continue;
        const double peak
            = entry.value(QStringLiteral("relay")).toObject().value(QStringLiteral("peak_mib")).toDouble(-1);
        if (peak > 0)
            m_out << QStringLiteral("target %1 MiB: relay peak %2 MiB (under %3): %4\n")
                         .arg(mib)
                         .arg(peak, 0, 'f', 1)
                         .arg(kPeakLimitMiB)
                         .arg(metOrMissed(peak < kPeakLimitMiB));
        const double vsNaive = entry.value(QStringLiteral("relay_vs_naive")).toDouble(-1);
        if (vsNaive > 0)
            m_out << QStringLiteral("target %1 MiB: relay/naive %2 (at most 1.0): %3\n")
                         .arg(mib)
                         .arg(vsNaive, 0, 'f', 2)
                         .arg(metOrMissed(vsNaive <= 1.0));
    }
    if (m_gib.contains(QStringLiteral("whole")))
        m_out << "target 1 GiB (and 4 GiB when asked) relays whole, larger than 4 GiB refused: "
              << metOrMissed(m_gib.value(QStringLiteral("whole")).isObject()
                     && m_gib.value(QStringLiteral("refused")).isObject())
              << "\n";
    for (const QJsonValue &value : qAsConst(m_startup)) {
        const QJsonObject startup = value.toObject();
        const int printers = startup.value(QStringLiteral("printers")).toInt();
        const double limit = startupLimitSeconds(printers);
        if (limit <= 0)
            continue;
        const double seconds = startup.value(QStringLiteral("s")).toDouble();
        m_out << QStringLiteral("target %1 printers: window constructed in %2 s (under %3): %4\n")
                     .arg(printers)
                     .arg(seconds, 0, 'f', 3)
                     .arg(limit)
                     .arg(metOrMissed(seconds < limit));
    }
    if (m_history.contains(QStringLiteral("open_ms"))) {
        const double open = m_history.value(QStringLiteral("open_ms")).toDouble();
        const double refresh = m_history.value(QStringLiteral("refresh_ms")).toDouble();
        m_out << QStringLiteral("target history dialog over %1 records: open %2 ms (under %3): %4; "
                                "refresh %5 ms (under %6): %7\n")
                     .arg(m_history.value(QStringLiteral("records")).toInt())
                     .arg(open, 0, 'f', 1)
                     .arg(kHistoryOpenLimitMs)
                     .arg(metOrMissed(open < kHistoryOpenLimitMs))
                     .arg(refresh, 0, 'f', 2)
                     .arg(kHistoryRefreshLimitMs)
                     .arg(metOrMissed(refresh < kHistoryRefreshLimitMs));
    }
    if (m_responsive.contains(QStringLiteral("worst_ms"))) {
        const double worst = m_responsive.value(QStringLiteral("worst_ms")).toDouble();
        const double own = m_responsive.value(QStringLiteral("own_worst_ms")).toDouble(-1);
        m_out << QStringLiteral(
            "target responsiveness: window's thread late by at most %1 ms (under %2): %3\n")
                     .arg(worst, 0, 'f', 1)
                     .arg(kFrameMs)
                     .arg(metOrMissed(worst < kFrameMs));
        // A machine that stalls every thread for longer than a frame cannot show the target met;
        // this says whether the program's own holds meet it.
        if (own >= 0)
            m_out << QStringLiteral("target responsiveness less the machine's stalls: %1 ms (under %2): %3\n")
                         .arg(own, 0, 'f', 1)
                         .arg(kFrameMs)
                         .arg(metOrMissed(own < kFrameMs));
    }
}

bool BenchRunner::prepareProgramFolder()
{
    // Our own binary under another folder: the program finds details/, outbox.db and the port
    // library beside itself, and a link would resolve back to the build's folder.
    const QDir built(QCoreApplication::applicationDirPath());
    const QDir folder(m_work.filePath(QStringLiteral("program")));
    m_programFolder = folder.path();
    const QString program = folder.filePath(QStringLiteral("relaybench"));
    if (!folder.mkpath(QStringLiteral(".")))
        return false;
    if (::link(QFile::encodeName(QCoreApplication::applicationFilePath()).constData(),
            QFile::encodeName(program).constData())
            != 0
        && !QFile::copy(QCoreApplication::applicationFilePath(), program))
        return false;
    for (const QString &library : built.entryList({ QStringLiteral("*.so") }, QDir::Files)) {
        if (!QFile::link(built.filePath(library), folder.filePath(library)))
            return false;
    }
    return true;
}

bool BenchRunner::resetProgramFolder()
{
    QDir folder(m_programFolder);
    for (const QString &name : folder.entryList({ QStringLiteral("outbox.db*") }, QDir::Files))
        folder.remove(name);
    for (const char *name : { "spool", "details", "logs" }) {
        QDir sub(folder.filePath(QLatin1String(name)));
        if (sub.exists() && !sub.removeRecursively())
            return false;
    }
    return folder.mkpath(QStringLiteral("details")) && folder.mkpath(QStringLiteral("logs"));
}

quint16 BenchRunner::freePortRun(int count)
{
    // Below the system's ephemeral range, so no outgoing connection takes one meanwhile.
    for (int base = 20000; base + count < 32768; base += count + 16) {
        std::vector<std::unique_ptr<QTcpServer>> held;
        for (int i = 0; i < count; ++i) {
            auto probe = std::make_unique<QTcpServer>();
            if (!probe->listen(QHostAddress::LocalHost, quint16(base + i)))
                break;
            held.push_back(std::move(probe));
        }
        if (int(held.size()) == count)
            return quint16(base);
    }
    return 0;
}

bool BenchRunner::startWindowChild(QProcess &child, const QString &kind, int printers,
    const QStringList &arguments, QString *failure, quint16 *firstPort)
{
    const quint16 basePort = freePortRun(printers);
    if (firstPort)
        *firstPort = basePort;
    if (basePort == 0) {
        *failure = QStringLiteral("no %1 free loopback ports in a row").arg(printers);
        return false;
    }
    if (!resetProgramFolder()) {
        *failure = QStringLiteral("cannot empty the program folder %1").arg(m_programFolder);
        return false;
    }
    return startChild(child,
        QStringList { kind, QString::number(printers), QString::number(basePort) } + arguments, failure,
        true);
}

bool BenchRunner::startChild(
    QProcess &child, const QStringList &arguments, QString *failure, bool inProgramFolder)
{
    child.setProgram(inProgramFolder ? QDir(m_programFolder).filePath(QStringLiteral("relaybench"))
                                     : QCoreApplication::applicationFilePath());
    child.setArguments(QStringList { QStringLiteral("--child") } + arguments);
    child.start();
    if (child.waitForStarted())
        return true;
    *failure = child.errorString();
    return false;
}

QList<QByteArray> BenchRunner::awaitLine(
    QProcess &child, const QByteArray &tag, int timeoutMs, QString *failure)
{
    const qint64 deadline = monotonicNs() + qint64(timeoutMs) * 1000000;
    for (;;) {
        while (child.canReadLine()) {
            const QByteArray line = child.readLine().trimmed();
            if (line.startsWith("error ")) {
                *failure = QString::fromUtf8(line.mid(6));
                return {};
            }
            const QList<QByteArray> words = line.split(' ');
            if (words.first() == tag)
                return words;
        }
        const qint64 left = (deadline - monotonicNs()) / 1000000;
        if (left <= 0 || child.state() == QProcess::NotRunning
            || !child.waitForReadyRead(int(qMin<qint64>(left, 1000)))) {
            if (child.canReadLine())
                continue;
            if (left <= 0 || child.state() == QProcess::NotRunning) {
                *failure = QStringLiteral("no \"%1\" from the child; its last words: %2")
                               .arg(QString::fromUtf8(tag),
                                   QString::fromLocal8Bit(child.readAllStandardError().right(600)));
                return {};
            }
        }
    }
}

void BenchRunner::finishChild(QProcess &child)
{
    child.closeWriteChannel();
    if (!child.waitForFinished(30000)) {
        child.kill();
        child.waitForFinished(5000);
    }
}

bool BenchRunner::verifyAtStandIn(const BenchJob &job, const QString &jobId, QString *failure)
{
    const QJsonObject kept = m_standIn.adminGet(QStringLiteral("/admin/jobs/%1").arg(jobId)).object();
    const qint64 size = qint64(kept.value(QStringLiteral("size")).toDouble(-1));
    const QString crc = kept.value(QStringLiteral("crc32")).toString();
    const QString expected = QStringLiteral("%1").arg(job.crc32(), 8, 16, QLatin1Char('0'));
    if (size == job.size() && crc == expected)
        return true;
    *failure = QStringLiteral("the stand-in has job \"%1\" as %2 bytes, CRC-32 %3; sent %4 bytes, CRC-32 %5")
                   .arg(jobId)
                   .arg(size)
                   .arg(crc, QString::number(job.size()), expected);
    return false;
}

void BenchRunner::printRow(const QString &job, const QString &path, const Figure &figure, qint64 jobBytes)
{
    if (!figure.ok) {
        m_out << QStringLiteral("%1 %2 FAILED: %3\n").arg(job, -9).arg(path, -6).arg(figure.failure);
        m_out.flush();
        m_allOk = false;
        return;
    }
    m_out << QStringLiteral("%1 %2 %3 %4 %5 %6")
                 .arg(job, -9)
                 .arg(path, -6)
                 .arg(figure.seconds, 9, 'f', 3)
                 .arg(double(jobBytes) / 1e6 / figure.seconds, 8, 'f', 0)
                 .arg(toMiB(figure.peakBytes), 9, 'f', 1)
                 .arg(double(figure.peakBytes) / double(jobBytes), 9, 'f', 2);
    if (figure.inSeconds >= 0 && figure.wholeSeconds >= 0 && figure.sentSeconds >= 0
        && figure.answerSeconds >= 0)
        m_out << QStringLiteral(
            "   (job in after %1 s; then whole in its spool file +%2 ms, post's last body byte "
            "sent +%3 ms, service's answer +%4 ms%6, card told +%5 ms)")
                     .arg(figure.inSeconds, 0, 'f', 3)
                     .arg((figure.wholeSeconds - figure.inSeconds) * 1e3, 0, 'f', 1)
                     .arg((figure.sentSeconds - figure.wholeSeconds) * 1e3, 0, 'f', 1)
                     .arg((figure.answerSeconds - figure.sentSeconds) * 1e3, 0, 'f', 1)
                     .arg((figure.seconds - figure.answerSeconds) * 1e3, 0, 'f', 1)
                     .arg(figure.sentToldLate
                             ? QStringLiteral(" (the upload's end was told after the answer)")
                             : QString());
    else if (figure.inSeconds >= 0)
        m_out << QStringLiteral("   (job in after %1 s, then post and answer %2 s)")
                     .arg(figure.inSeconds, 0, 'f', 3)
                     .arg(figure.seconds - figure.inSeconds, 0, 'f', 3);
    m_out << "\n";
    m_out.flush();
}
