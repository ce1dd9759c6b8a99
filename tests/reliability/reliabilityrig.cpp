#include "reliabilityrig.h"

#include "closedport.h"
#include "cloudsimprocess.h"
#include "cprinter.h"
#include "detailfile.h"
#include "driverinfo.h"
#include "driveritem.h"
#include "liveobjects.h"
#include "outboxjournal.h"
#include "portreportthread.h"
#include "portwatch.h"
#include "printerserver.h"
#include "programfolder.h"
#include "spoolerfixture.h"
#include "testtiming.h"
#include "tolmainwindow.h"
#include "widetext.h"
#include "winsim/winsimcontrol.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QLayout>
#include <QScrollArea>
#include <QTest>
#include <QThread>
#include <QVariant>

namespace Rig {

namespace {
ProgramWaits g_suiteWaits;
} // namespace

bool startSuite(CloudSimProcess &sim, ProgramWaits waits)
{
    registerDriverInfoMetaType();
    if (!ProgramFolder::install())
        return false;
    if (!sim.start({ QStringLiteral("--pending-polls"), QStringLiteral("0"),
            QStringLiteral("--default-device"), QStringLiteral("online") }))
        return false;
    waits.cloudServiceBase = sim.baseUrl();
    g_suiteWaits = waits;
    ProgramWaits::setForTesting(g_suiteWaits);
    return true;
}

ProgramWaits suiteWaits()
{
    return g_suiteWaits;
}

void useService(const QString &base)
{
    ProgramWaits waits = ProgramWaits::current();
    waits.cloudServiceBase = base;
    ProgramWaits::setForTesting(waits);
}

bool freshCase(CloudSimProcess &sim)
{
    ProgramWaits::setForTesting(g_suiteWaits);
    // The outbox starts empty: a job an earlier case left unfinished is no job of this one.
    OutboxJournal::resetForTesting();
    const QDir program(QCoreApplication::applicationDirPath());
    QFile::remove(program.filePath(QStringLiteral("outbox.db")));
    QFile::remove(program.filePath(QStringLiteral("outbox.db-wal")));
    QFile::remove(program.filePath(QStringLiteral("outbox.db-shm")));
    QDir(program.filePath(QStringLiteral("spool"))).removeRecursively();
    return sim.reset() && SpoolerFixture::freshMachineWithDriver();
}

bool addUnusedPrinter(const QString &printer, int index, const QString &serial)
{
    QFile::remove(detailFilePath(serial));
    return SpoolerFixture::addCloudPrinter(printer, index, serial);
}

bool freshCaseWithPrinter(CloudSimProcess &sim, const QString &printer, const QString &serial)
{
    return freshCase(sim) && addUnusedPrinter(printer, kFirstIndex, serial);
}

void endSuite()
{
    // Despoolers of a case that failed half-way would keep trying the closed ports.
    winsim::reset();
    ProgramWaits::resetForTesting();
}

bool endSuite(Figures &figures, const QString &name, const QString &title)
{
    endSuite();
    return figures.write(name, title);
}

QStringList addMessages()
{
    return { QStringLiteral("添加成功"), QStringLiteral("当前打印机已经存在!"),
        QStringLiteral("添加打印机失败，无法添加端口"), QStringLiteral("安装驱动失败"),
        QStringLiteral("添加打印机失败, 打印机名无效"), QStringLiteral("添加打印机失败, 无法设置云序列号"),
        QStringLiteral("添加打印机失败, 无法设置端口号") };
}

QStringList spoolerPrinters()
{
    QStringList names;
    QList<PRINTER_INFO_2W> printers;
    SpoolerBuffer buffer;
    CPrinter().EnumPrinters(printers, buffer);
    for (const PRINTER_INFO_2W &printer : printers)
        names << fromWide(printer.pPrinterName);
    return names;
}

QList<DriverItem *> cards(TolMainWindow &window)
{
    QList<DriverItem *> found;
    auto *area = window.findChild<QScrollArea *>(QStringLiteral("scrollArea"));
    if (!area || !area->widget() || !area->widget()->layout())
        return found;
    QLayout *layout = area->widget()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        if (auto *card = qobject_cast<DriverItem *>(layout->itemAt(i)->widget()))
            found.append(card);
    }
    return found;
}

bool waitForBackgroundStart(TolMainWindow &window)
{
    const auto reports = window.findChildren<PortReportThread *>();
    for (PortReportThread *report : reports) {
        if (!report->wait(QDeadlineTimer(TestTiming::scaled(60000))))
            return false;
    }
    return true;
}

bool waitForListeners(TolMainWindow &window)
{
    return QTest::qWaitFor(
        [&window] {
            for (PrinterServer *server : window.findChildren<PrinterServer *>()) {
                if (!server->isListening())
                    return false;
            }
            return true;
        },
        TestTiming::scaled(15000));
}

PrinterServer *serverFor(TolMainWindow &window, DriverItem *card)
{
    for (PrinterServer *server : window.findChildren<PrinterServer *>()) {
        if (server->isListening() && server->serverPort() == card->driverInfo().port_num)
            return server;
    }
    return nullptr;
}

QList<QStringList> records(const QString &serial)
{
    // In the file's own layout: five fields with a job description, four (the first empty) without.
    QList<QStringList> rows;
    for (const DetailRecord &record : parseDetailRecords(readDetailRecords(serial))) {
        QStringList fields { record.document };
        if (!record.submitted.isEmpty())
            fields << record.submitted;
        fields << record.result << record.size << record.handled;
        rows.append(fields);
    }
    return rows;
}

QList<QByteArray> serviceJobData(CloudSimProcess &sim)
{
    QList<QByteArray> jobs;
    for (const QJsonValue &job : sim.jobs())
        jobs.append(sim.jobData(job.toObject().value(QStringLiteral("jobId")).toString()));
    return jobs;
}

void jobGoesThrough(CloudSimProcess &sim, const QString &printer, const QString &serial, const SentJob &job,
    int recordsBefore)
{
    QVERIFY(sim.reset());
    QVERIFY(SpoolerFixture::printJob(printer, job.document, job.bytes));
    QTRY_COMPARE_WITH_TIMEOUT(records(serial).size(), recordsBefore + 1, TestTiming::scaled(20000));
    const QStringList record = records(serial).last();
    QCOMPARE(recordDocument(record), job.document);
    QCOMPARE(recordResult(record), QStringLiteral("打印成功"));
    QCOMPARE(serviceJobData(sim), QList<QByteArray> { job.bytes });
}

quint16 deadPort()
{
    return closedLoopbackPort();
}

QString waitForJobObjectsGone(int timeoutMs)
{
    // Receivers first: their threads own the clients and replies, which may still be going away.
    const QByteArrayList kinds { "PrinterThread", "JobPoster", "AddPrinterThread", "RemovePrinterThread",
        "Cloud", "StateThread", "QNetworkReply" };
    QDeadlineTimer deadline(TestTiming::scaled(timeoutMs));
    for (;;) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        const bool receiversGone = LiveObjects::count("PrinterThread") == 0
            && LiveObjects::count("JobPoster") == 0 && LiveObjects::count("AddPrinterThread") == 0
            && LiveObjects::count("RemovePrinterThread") == 0;
        if (receiversGone) {
            const QString left = LiveObjects::leftovers(kinds);
            if (left.isEmpty())
                return QString();
            if (deadline.hasExpired())
                return left;
        } else if (deadline.hasExpired()) {
            return LiveObjects::leftovers(kinds);
        }
        QTest::qWait(20);
    }
}

void nothingLeftBehind()
{
    QCOMPARE(waitForJobObjectsGone(), QString());
    QCOMPARE(winsim::openHandleCount(), 0);
}

bool waitForPortFree(PortWatch &watch)
{
    return QTest::qWaitFor([&watch] { return !watch.isBusy(); }, TestTiming::scaled(10000));
}

Figures::Row accountCase(CloudSimProcess &sim, const QList<SentJob> &sent, const QString &serial)
{
    return accountJobs(sent, serviceJobData(sim), records(serial));
}

bool settle(PortWatch &watch, Figures::Row &row)
{
    if (!waitForPortFree(watch))
        return false;
    row.busyAfterOutcomeMs = watch.longestBusyAfterOutcomeMs();
    return true;
}

void closeCase(Figures &figures, const Figures::Row &row, PortWatch &watch)
{
    QVERIFY(waitForPortFree(watch));
    QCOMPARE(waitForJobObjectsGone(), QString());
    closeAccount(figures, row);
}

void addRow(Figures &figures, Figures::Row row)
{
    row.leakedHandles = winsim::openHandleCount();
    figures.add(row);
}

QByteArray jobBytes(const QString &tag, int size)
{
    QByteArray bytes = tag.toUtf8() + '\n';
    const uint seed = qHash(tag);
    for (int i = 0; bytes.size() < size; ++i)
        bytes.append(char((seed + uint(i) * 131u) >> 3));
    bytes.truncate(size);
    return bytes;
}

} // namespace Rig
