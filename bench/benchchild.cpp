#include "benchchild.h"

#include "benchjob.h"

#include "courierconstants.h"
#include "jobinflight.h"
#include "outboxjournal.h"
#include "printbodywriter.h"
#include "printeroutbox.h"
#include "printerserver.h"
#include "procstats.h"
#include "programwaits.h"
#include "winsim/winsimcontrol.h"

#include <QCoreApplication>
#include <QHostAddress>
#include <QJsonObject>
#include <QMutex>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <iterator>
#include <utility>
#include <vector>

namespace {
// The receiver logs its last word with this; the relay child waits for it before it leaves.
std::atomic<bool> g_receiverDone { false };
// When the receiver saw the spooler close the connection: the job is in, the upload about to begin.
std::atomic<qint64> g_receivedNs { 0 };
// When the receiver had the whole job stored in its spool file.
std::atomic<qint64> g_wholeNs { 0 };
// When the cloud client had the service's answer (the first of its lines about it).
std::atomic<qint64> g_answerNs { 0 };

// The window thread's own log lines with their times, once asked for (only that thread adds or reads).
std::atomic<bool> g_keepGuiLines { false };
std::vector<std::pair<qint64, QString>> g_guiLines;

void stampOnce(std::atomic<qint64> &stamp)
{
    qint64 unset = 0;
    stamp.compare_exchange_strong(unset, monotonicNs());
}

// The program's debug lines would cost the measured code a terminal's write each; the real program
// writes them to a file. Warnings and worse still show. A few lines mark where a job stands.
void quietHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (message.startsWith(QLatin1String("59_PrinterThread")))
        g_receivedNs = monotonicNs();
    else if (message.startsWith(QLatin1String("92_PrinterThread")))
        stampOnce(g_wholeNs);
    else if (message.startsWith(QLatin1String("56_Cloud")) || message.startsWith(QLatin1String("69_Cloud")))
        stampOnce(g_answerNs);
    if (message.contains(QLatin1String("printComplete")))
        g_receiverDone = true;
    if (g_keepGuiLines && QCoreApplication::instance()
        && QThread::currentThread() == QCoreApplication::instance()->thread())
        g_guiLines.emplace_back(monotonicNs(), message.left(160));
    if (type != QtDebugMsg && type != QtInfoMsg)
        std::fprintf(stderr, "%s\n", qPrintable(message));
    // Every line, with the monotonic millisecond it was said at, for finding out why a run went wrong.
    static FILE *trace
        = std::getenv("RELAYBENCH_TRACE") ? std::fopen(std::getenv("RELAYBENCH_TRACE"), "a") : nullptr;
    if (trace) {
        static QMutex traceLock;
        QMutexLocker locker(&traceLock);
        std::fprintf(trace, "%lld %s\n", monotonicNs() / 1000000, qPrintable(message));
        std::fflush(trace);
    }
}
} // namespace

void report(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

int fail(const QString &why)
{
    report("error " + why.toUtf8());
    return 1;
}

void installQuietLog()
{
    qInstallMessageHandler(quietHandler);
}

void keepGuiLogLines()
{
    g_guiLines.reserve(100000);
    g_keepGuiLines = true;
}

QString guiLogLineBefore(qint64 ns)
{
    const auto after = std::upper_bound(g_guiLines.begin(), g_guiLines.end(), ns,
        [](qint64 at, const std::pair<qint64, QString> &line) { return at < line.first; });
    return after == g_guiLines.begin() ? QString() : std::prev(after)->second;
}

QString benchSerial()
{
    return QStringLiteral("B0B0B0B0B0B0B0B0");
}

void useService(const QString &base)
{
    ProgramWaits waits;
    waits.cloudServiceBase = base;
    ProgramWaits::setForTesting(waits);
}

int runLimitChild()
{
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(listener, 1) != 0
        || ::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return fail(QStringLiteral("cannot listen: %1").arg(QString::fromLocal8Bit(std::strerror(errno))));
    report(QByteArray("ready ") + QByteArray::number(ntohs(address.sin_port)) + ' '
        + QByteArray::number(residentBytes()));

    const int connection = ::accept(listener, nullptr, nullptr);
    if (connection < 0)
        return fail(QStringLiteral("accept failed"));
    PrintBodyWriter body(benchSerial());
    std::vector<char> slice(256 * 1024);
    qint64 received = 0;
    for (;;) {
        const ssize_t n = ::recv(connection, slice.data(), slice.size(), 0);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return fail(QStringLiteral("recv failed"));
        }
        received += n;
        if (!body.append(slice.data(), n))
            return fail(QStringLiteral("no room for the body after %1 bytes").arg(received));
    }
    const QByteArray finished = body.finish();
    const qint64 done = monotonicNs();
    ::close(connection);
    ::close(listener);
    report("done " + QByteArray::number(done) + ' ' + QByteArray::number(received) + ' '
        + QByteArray::number(finished.size()) + ' ' + QByteArray::number(peakResidentBytes()));
    return 0;
}

int runRelayChild(int argc, char **argv, const QString &base)
{
    installQuietLog();
    QCoreApplication app(argc, argv);
    useService(base);

    DriverInfo info;
    info.printer_name = QStringLiteral("Bench Printer");
    info.cloud_sn = benchSerial();
    info.port_name = QStringLiteral("REDadez_bench");
    info.driver_name = QStringLiteral(COURIER_DRIVER_NAME);
    info.ip = QStringLiteral("127.0.0.1");
    // The outbox's journal and spool files in a folder of the run's own, on the disk as the program's.
    QTemporaryDir folder;
    OutboxJournal journal(
        folder.filePath(QStringLiteral("outbox.db")), folder.filePath(QStringLiteral("spool")));
    PrinterServer server(info, &journal);
    // The runner, our parent, sends the job as the spooler would; only the spooler may print.
    std::string error;
    if (!winsim::nameSpoolerProcess(uint32_t(::getppid()), &error))
        return fail(QStringLiteral("cannot name the spooler: %1").arg(QString::fromStdString(error)));
    if (!server.listen(QHostAddress::LocalHost, 0))
        return fail(QStringLiteral("cannot listen: %1").arg(server.errorString()));
    report("ready " + QByteArray::number(server.serverPort()) + ' ' + QByteArray::number(residentBytes()));

    // The post's last body byte is out when the outbox tells of its job at 100 percent.
    qint64 sentNs = 0;
    QObject::connect(server.outbox(), &PrinterOutbox::jobsChanged, &server, [&server, &sentNs] {
        if (sentNs != 0)
            return;
        const QList<JobInFlight> jobs = server.outbox()->jobsInFlight();
        if (!jobs.isEmpty() && jobs.first().stage == JobInFlight::Stage::Uploading
            && jobs.first().uploadPercent == 100)
            sentNs = monotonicNs();
    });

    QByteArray result;
    // Stamped where the result is emitted, in the receiver's thread, before any queueing.
    QObject::connect(
        &server, &PrinterServer::cloudResule, &server,
        [&app, &result](QNetworkReply::NetworkError error, const QJsonDocument &jd) {
            const qint64 done = monotonicNs();
            const QJsonObject answer = jd.object();
            const QString jobId = answer.value(QStringLiteral("data"))
                                      .toObject()
                                      .value(QStringLiteral("tolvixId"))
                                      .toString();
            const QByteArray line = "done " + QByteArray::number(done) + ' ' + QByteArray::number(int(error))
                + ' ' + QByteArray::number(qint64(answer.value(QStringLiteral("jobSize")).toDouble())) + ' '
                + (jobId.isEmpty() ? QByteArray("-") : jobId.toUtf8());
            QMetaObject::invokeMethod(
                &app, [&result, line] { result = line; }, Qt::QueuedConnection);
        },
        Qt::DirectConnection);

    // Leave once the result is in and the receiver has finished with everything it held.
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &app, [&app, &result] {
        if (!result.isEmpty() && g_receiverDone)
            app.quit();
    });
    poll.start();
    QTimer::singleShot(10 * 60 * 1000, &app, [&app] { app.exit(2); });
    if (app.exec() != 0)
        return fail(QStringLiteral("no result within ten minutes"));
    report(result + ' ' + QByteArray::number(peakResidentBytes()) + ' ' + QByteArray::number(g_receivedNs)
        + ' ' + QByteArray::number(g_wholeNs) + ' ' + QByteArray::number(sentNs) + ' '
        + QByteArray::number(g_answerNs));
    return 0;
}

int runShellChild(const QString &command)
{
    const QByteArray line = command.toLocal8Bit();
    const pid_t pid = ::fork();
    if (pid < 0)
        return fail(QStringLiteral("fork failed"));
    if (pid == 0) {
        ::execl("/bin/sh", "sh", "-c", line.constData(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    const qint64 done = monotonicNs();
    rusage usage {};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    const int exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    report("done " + QByteArray::number(done) + ' ' + QByteArray::number(exitCode) + ' '
        + QByteArray::number(qint64(usage.ru_maxrss) * 1024));
    return 0;
}

namespace {
QByteArray bodyOf(qint64 jobBytes)
{
    const BenchJob job(jobBytes);
    PrintBodyWriter writer(benchSerial());
    writer.reserveFor(job.size());
    for (qint64 offset = 0; offset < job.size();) {
        qint64 length = 0;
        const char *data = job.at(offset, &length);
        writer.append(data, length);
        offset += length;
    }
    return writer.finish();
}

// One POST over a plain socket, with the whole body handed to the kernel in as few writes as it takes.
int rawPost(const QUrl &url, const QByteArray &body)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(url.port()));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
        return -1;
    const QByteArray head = "POST " + url.path().toUtf8() + " HTTP/1.1\r\nHost: " + url.host().toUtf8() + ':'
        + QByteArray::number(url.port())
        + "\r\nContent-Type: application/json;charset=UTF-8\r\nContent-Length: "
        + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n";
    for (const QByteArray *part : { &head, &body }) {
        for (qint64 at = 0; at < part->size();) {
            const ssize_t n = ::send(fd, part->constData() + at, size_t(part->size() - at), MSG_NOSIGNAL);
            if (n <= 0) {
                ::close(fd);
                return -1;
            }
            at += n;
        }
    }
    // The stand-in closes after its answer (Connection: close), so the answer ends at end of stream.
    QByteArray answer;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        answer.append(buffer, int(n));
    }
    ::close(fd);
    return answer.mid(9, 3).toInt();
}
} // namespace

int runPostChild(int argc, char **argv, const QString &how, const QString &base, qint64 jobBytes)
{
    QCoreApplication app(argc, argv);
    const QUrl url(base + QStringLiteral("/v1.1/transparentPrinting"));
    const QByteArray body = bodyOf(jobBytes);
    int status = 0;
    const qint64 start = monotonicNs();
    if (how == QLatin1String("raw")) {
        status = rawPost(url, body);
    } else {
        // In a thread of its own that does nothing else, as the receiver's thread while it waits.
        QThread *poster = QThread::create([&] {
            QNetworkAccessManager manager;
            QNetworkRequest request(url);
            request.setHeader(
                QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json;charset=UTF-8"));
            if (how == QLatin1String("qnam-sync"))
                request.setAttribute(QNetworkRequest::SynchronousRequestAttribute, true);
            QNetworkReply *reply = manager.post(request, body);
            if (!reply->isFinished()) {
                QEventLoop loop;
                QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
                loop.exec();
            }
            status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            delete reply;
        });
        poster->start();
        poster->wait();
        delete poster;
    }
    const qint64 end = monotonicNs();
    report("done " + QByteArray::number(start) + ' ' + QByteArray::number(end) + ' '
        + QByteArray::number(status));
    return status == 200 ? 0 : 1;
}
