#include "windowchild.h"

#include "benchchild.h"
#include "tickrecorder.h"
#include "timedapplication.h"

#include "courierconstants.h"
#include "cprinter.h"
#include "detailfile.h"
#include "driveritem.h"
#include "jobtablemodel.h"
#include "printerserver.h"
#include "procstats.h"
#include "settingsdlg.h"
#include "spoolerfixture.h"
#include "stallrecorder.h"
#include "threadpriority.h"
#include "tolmainwindow.h"
#include "winsim/winsimcontrol.h"

#include <QApplication>
#include <QEventLoop>
#include <QJsonObject>
#include <QScopedPointer>
#include <QStringList>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
// Refreshes of the history dialog timed one by one; the median is reported.
constexpr int kRefreshes = 9;
// One frame at 60 Hz: a window's thread held longer than this is seen to stutter.
constexpr qint64 kFrameNs = 16 * 1000 * 1000;

// What a window's child starts with: a quiet log, and a machine with the supported driver and
// `count` cloud printers, printer i on port REDadez<i> aimed at 127.0.0.1 and basePort + i, which
// the window's listeners then take.
bool setUpWindowChild(int count, quint16 basePort, QString *error)
{
    installQuietLog();
    std::string why;
    if (!winsim::reset(&why) || !winsim::installDriver(COURIER_DRIVER_NAME, "Windows x64", "1.0.0.0", &why)) {
        *error = QStringLiteral("winsim: %1").arg(QString::fromStdString(why));
        return false;
    }
    CPrinter spooler;
    for (int i = 0; i < count; ++i) {
        const QString name = benchPrinterName(i);
        const quint16 port = quint16(basePort + i);
        if (!SpoolerFixture::addPrinterOnPort(
                name, QStringLiteral("REDadez%1").arg(i, 3, 10, QLatin1Char('0')), port)
            || spooler.SetCloudPrinterId(name, benchPrinterSerial(i)) != 0
            || !spooler.SetPrinterPortNum(name, port)) {
            *error = QStringLiteral("cannot set up printer %1").arg(name);
            return false;
        }
    }
    return true;
}

QString recordTime(int index)
{
    return QTime(8, 0).addSecs(index % 50000).toString(QStringLiteral("HH:mm:ss"));
}

void appendRecord(const QString &serial, int index)
{
    const QString at = recordTime(index);
    appendDetailRecord(
        serial, jobDetailRecord(QStringLiteral("doc;") + at, QStringLiteral("打印成功"), 1234, at));
}

// Today's detail file of the serial with `records` finished jobs, written as the cards write them.
bool fillHistory(const QString &serial, int records, QString *error)
{
    for (int i = 0; i < records; ++i)
        appendRecord(serial, i);
    if (records > 0 && detailFileSize(serial) == 0) {
        *error = QStringLiteral("no detail file at %1 (is details/ beside the program?)")
                     .arg(detailFilePath(serial));
        return false;
    }
    return true;
}

// Lets the event loop run for a while, as a waiting program does.
void runEventsFor(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

qint64 median(std::vector<qint64> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QByteArray number(qint64 value)
{
    return QByteArray::number(value);
}
} // namespace

QString benchPrinterName(int index)
{
    return QStringLiteral("Bench %1").arg(index, 4, 10, QLatin1Char('0'));
}

QString benchPrinterSerial(int index)
{
    return QStringLiteral("%1").arg(0xB000000000000000ull + quint64(index), 16, 16).toUpper();
}

int runStartupChild(int argc, char **argv, int printers, quint16 basePort, const QString &base)
{
    QString error;
    if (!setUpWindowChild(printers, basePort, &error))
        return fail(error);

    QApplication app(argc, argv);
    useService(base);
    // As the program's entry point does.
    raiseWindowThreadPriority();
    const qint64 before = residentBytes();
    const qint64 start = monotonicNs();
    QScopedPointer<TolMainWindow> window(new TolMainWindow);
    const qint64 constructed = monotonicNs();
    const qint64 after = residentBytes();
    // What the user waits for: the list on the screen, every card polished and laid out.
    window->show();
    // The first paint, the cards in sight made right after it, and their own paint.
    for (int pass = 0; pass < 3; ++pass)
        QCoreApplication::processEvents();
    const qint64 shown = monotonicNs();

    const int cards = window->findChildren<DriverItem *>().size();
    int listening = 0;
    for (PrinterServer *server : window->findChildren<PrinterServer *>())
        listening += server->isListening() ? 1 : 0;
    report("startup " + number(constructed - start) + ' ' + number(before) + ' ' + number(after) + ' '
        + number(peakResidentBytes()) + ' ' + number(cards) + ' ' + number(listening) + ' '
        + number(shown - start));
    return 0;
}

int runResponsiveChild(
    int argc, char **argv, int printers, quint16 basePort, int records, const QString &base)
{
    QString error;
    if (!setUpWindowChild(printers, basePort, &error))
        return fail(error);

    TimedApplication app(argc, argv);
    useService(base);
    if (!fillHistory(benchPrinterSerial(0), records, &error))
        return fail(error);
    // The runner, our parent, sends the jobs as the spooler would; only the spooler may print.
    std::string why;
    if (!winsim::nameSpoolerProcess(uint32_t(::getppid()), &why))
        return fail(QStringLiteral("cannot name the spooler: %1").arg(QString::fromStdString(why)));

    // As the program's entry point does.
    raiseWindowThreadPriority();
    QScopedPointer<TolMainWindow> window(new TolMainWindow);
    window->show();
    // Shown as the card shows it, but without a modal loop of its own: the window's loop runs it.
    auto *dialog = new SettingsDlg(benchPrinterName(0), benchPrinterSerial(0), window.data());
    dialog->show();
    // The first showing of the window and the dialog (the start-up row's business) is over before
    // the jobs come: this row is about the window while jobs relay.
    runEventsFor(500);

    const QList<PrinterServer *> servers = window->findChildren<PrinterServer *>();
    const auto listening = [&servers] {
        return int(std::count_if(
            servers.begin(), servers.end(), [](PrinterServer *server) { return server->isListening(); }));
    };
    // A port another program holds is tried again every few seconds; give that a few rounds.
    for (int waited = 0; listening() < printers && waited < 30000; waited += 100)
        runEventsFor(100);
    report("ready " + number(listening()));

    int recorded = 0;
    int printed = 0;
    qint64 endNs = 0;
    QStringList jobIds;
    // The first result that was not a print, to say what went wrong.
    QString otherResult;
    for (DriverItem *card : window->findChildren<DriverItem *>()) {
        QObject::connect(card, &DriverItem::jobRecorded, &app, [&](const QString &result) {
            ++recorded;
            if (result == QStringLiteral("打印成功"))
                ++printed;
            else if (otherResult.isEmpty())
                otherResult = result;
            if (recorded == printers) {
                endNs = monotonicNs();
                app.quit();
            }
        });
    }
    for (PrinterServer *server : servers) {
        QObject::connect(server, &PrinterServer::cloudResule, &app,
            [&jobIds](QNetworkReply::NetworkError, const QJsonDocument &jd) {
                const QString id = jd.object()
                                       .value(QStringLiteral("data"))
                                       .toObject()
                                       .value(QStringLiteral("tolvixId"))
                                       .toString();
                if (!id.isEmpty())
                    jobIds.append(id);
            });
    }

    TickRecorder ticks(1);
    StallRecorder stalls;
    keepGuiLogLines();
    stalls.start();
    ticks.start();
    const qint64 cpuBefore = TimedApplication::threadCpuNs();
    QTimer::singleShot(10 * 60 * 1000, &app, [&app] { app.exit(2); });
    const int code = app.exec();
    ticks.stop();
    stalls.stop();
    const qint64 cpuUsed = TimedApplication::threadCpuNs() - cpuBefore;
    if (code != 0)
        return fail(QStringLiteral("%1 of %2 jobs recorded within ten minutes").arg(recorded).arg(printers));
    report("recorded " + number(endNs) + ' ' + number(recorded) + ' ' + number(printed) + ' '
        + (jobIds.isEmpty() ? QByteArray("-") : jobIds.join(QLatin1Char(',')).toUtf8()) + ' '
        + otherResult.toUtf8());

    // Only the runner knows when the first byte went out.
    char line[128];
    if (!std::fgets(line, sizeof line, stdin))
        return fail(QStringLiteral("no first byte's time from the runner"));
    const QList<QByteArray> words = QByteArray(line).trimmed().split(' ');
    if (words.size() < 2 || words.first() != "first")
        return fail(QStringLiteral("unexpected line from the runner: %1").arg(QString::fromUtf8(line)));
    const TickRecorder::Lateness lateness = ticks.latenessBetween(words.at(1).toLongLong(), endNs, kFrameNs);
    // The same ticks less the machine's own stalls within each wait: what the program held. The
    // worst of these is the one described below; the raw worst is mostly the host's.
    const TickRecorder::Lateness own = ticks.latenessBetween(words.at(1).toLongLong(), endNs, kFrameNs,
        [&stalls](qint64 dueNs, qint64 firedNs) { return stalls.stalledWithin(dueNs, firedNs); });
    report("responsive " + number(lateness.worstNs) + ' ' + number(lateness.p99Ns) + ' '
        + number(lateness.ticks) + ' ' + number(dialog->model()->rowCount()) + ' '
        + number(lateness.slowTicks) + ' ' + number(own.worstRanNs) + ' ' + number(own.worstQueuedNs) + ' '
        + number(stalls.stalledWithin(own.worstDueNs, own.worstFiredNs)));
    report("machine " + number(stalls.isRealTime() ? 1 : 0) + ' '
        + number(stalls.worstBetween(words.at(1).toLongLong(), endNs)) + ' ' + number(own.worstNs) + ' '
        + number(own.p99Ns) + ' ' + number(own.slowTicks));
    // What the window's thread was about when that hold began, and the last it said while held.
    report("heldbefore " + number(own.worstDueNs) + ' ' + guiLogLineBefore(own.worstDueNs).toUtf8());
    const qint64 firstNs = words.at(1).toLongLong();
    const TimedApplication::HeldEvent longest = app.longestBetween(firstNs, endNs);
    report("gui " + number(cpuUsed) + ' ' + number(app.countOver(firstNs, endNs, kFrameNs)) + ' '
        + number(longest.durationNs) + ' ' + number(longest.cpuNs) + ' '
        + (longest.what.isEmpty() ? QByteArray("-") : longest.what));
    report("heldwhile " + number(own.worstFiredNs) + ' '
        + (guiLogLineBefore(own.worstFiredNs) == guiLogLineBefore(own.worstDueNs)
                ? QByteArray()
                : guiLogLineBefore(own.worstFiredNs).toUtf8()));
    return 0;
}

int runHistoryChild(int argc, char **argv, int records, quint16 basePort)
{
    QString error;
    // The dialog also asks the spooler for the printer's queue on every refresh.
    if (!setUpWindowChild(1, basePort, &error))
        return fail(error);

    QApplication app(argc, argv);
    const QString serial = benchPrinterSerial(0);
    if (!fillHistory(serial, records, &error))
        return fail(error);

    const qint64 start = monotonicNs();
    QScopedPointer<SettingsDlg> dialog(new SettingsDlg(benchPrinterName(0), serial, nullptr));
    const qint64 constructed = monotonicNs();
    dialog->show();
    // The first paint, and whatever else showing it posted.
    QCoreApplication::processEvents();
    const qint64 shown = monotonicNs();
    if (dialog->model()->rowCount() != records)
        return fail(QStringLiteral("the dialog shows %1 rows of %2 records")
                        .arg(dialog->model()->rowCount())
                        .arg(records));

    const auto refresh = [&dialog](std::vector<qint64> *costs) {
        const qint64 before = monotonicNs();
        const bool invoked = QMetaObject::invokeMethod(dialog.data(), "on_Timeout", Qt::DirectConnection);
        costs->push_back(monotonicNs() - before);
        // Its repaint, untimed, as the event loop would do it before the next second.
        QCoreApplication::processEvents();
        return invoked;
    };
    std::vector<qint64> grown;
    std::vector<qint64> idle;
    for (int i = 0; i < kRefreshes; ++i) {
        appendRecord(serial, records + i);
        if (!refresh(&grown))
            return fail(QStringLiteral("the dialog has no slot on_Timeout"));
    }
    for (int i = 0; i < kRefreshes; ++i)
        refresh(&idle);
    if (dialog->model()->rowCount() != records + kRefreshes)
        return fail(QStringLiteral("after %1 more records the dialog shows %2 rows of %3")
                        .arg(kRefreshes)
                        .arg(dialog->model()->rowCount())
                        .arg(records + kRefreshes));
    report("history " + number(constructed - start) + ' ' + number(shown - start) + ' '
        + number(median(grown)) + ' ' + number(median(idle)) + ' ' + number(dialog->model()->rowCount()));
    return 0;
}
