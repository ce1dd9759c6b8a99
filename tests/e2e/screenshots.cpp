// Pictures of the program for the README and for review: the printer list with cards that show a
// success and a failure, the add form, the job history with rows (and again with jobs still on
// their way) and a message dialog, drawn by the real widgets over winsim and the cloud stand-in.
// Usage: courier_screenshots OUTPUT_FOLDER [--scaled NAME] (run it on a display, e.g. Xvfb). With
// --scaled only the printer list is drawn, as NAME.png, for a run under QT_SCALE_FACTOR.

#include "cloud.h"
#include "cloudsimprocess.h"
#include "detailfile.h"
#include "driveritem.h"
#include "errordialog.h"
#include "outboxjournal.h"
#include "printeroutbox.h"
#include "programfolder.h"
#include "programwaits.h"
#include "settingsdlg.h"
#include "spoolerfixture.h"
#include "testprinters.h"
#include "tolmainwindow.h"
#include "winsim/winsimcontrol.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

namespace {

void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool save(QWidget *widget, const QDir &folder, const QString &name)
{
    const QString file = folder.filePath(name);
    const bool saved = widget->grab().save(file);
    qInfo("%s %s", saved ? "wrote" : "could not write", qPrintable(file));
    return saved;
}

// Posts a job to the stand-in as the listener would and hands back what the card is given.
QJsonDocument postJob(
    const QString &base, const DriverInfo &info, const QString &jobneed, const QByteArray &data)
{
    Cloud cloud(base + QStringLiteral("/v1.1/transparentPrinting"), info);
    QJsonDocument answer;
    QEventLoop loop;
    QObject::connect(&cloud, &Cloud::cloudResule, &loop, [&](QNetworkReply::NetworkError, QJsonDocument jd) {
        answer = jd;
        loop.quit();
    });
    QTimer::singleShot(15000, &loop, &QEventLoop::quit);
    if (!cloud.request(data, data.size(), jobneed))
        return QJsonDocument();
    loop.exec();
    return answer;
}

// Follows one job on the card to its recorded end.
bool printOn(DriverItem *card, const QString &base, const QString &jobneed)
{
    const QJsonDocument answer = postJob(base, card->driverInfo(), jobneed, QByteArray(2048, 'x'));
    if (!answer.isObject())
        return false;
    bool recorded = false;
    QEventLoop loop;
    QObject::connect(card, &DriverItem::jobRecorded, &loop, [&] {
        recorded = true;
        loop.quit();
    });
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    card->onCloudResut(QNetworkReply::NoError, answer);
    loop.exec();
    return recorded;
}

// The two listed printers' cards get a last result each: a success and a failure (the device is off).
bool printOnCards(TolMainWindow &window, const QString &base)
{
    bool ok = true;
    for (DriverItem *card : window.findChildren<DriverItem *>()) {
        const bool offline = card->driverInfo().cloud_sn == QLatin1String("2222333344445555");
        ok &= printOn(card, base,
            offline ? QStringLiteral("月度盘点.xlsx;10:03:40") : QStringLiteral("季度报告.docx;10:02:11"));
    }
    return ok;
}

DriverItem *card(TolMainWindow &window, const QString &serial)
{
    for (DriverItem *item : window.findChildren<DriverItem *>()) {
        if (item->driverInfo().cloud_sn == serial)
            return item;
    }
    return nullptr;
}

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir root;
    qputenv("WINSIM_ROOT", root.path().toLocal8Bit());
    // As the program does, so that a scaled screen shows what users see.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QApplication app(argc, argv);
    const bool scaledOnly = argc == 4 && qstrcmp(argv[2], "--scaled") == 0;
    if (argc < 2 || (argc > 2 && !scaledOnly)) {
        qCritical("usage: courier_screenshots OUTPUT_FOLDER [--scaled NAME]");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    registerDriverInfoMetaType();

    CloudSimProcess sim;
    if (!root.isValid() || !QDir().mkpath(output.path()) || !ProgramFolder::install() || !winsim::reset()
        || !sim.start({ QStringLiteral("--default-device"), QStringLiteral("online"),
            QStringLiteral("--device"), QStringLiteral("2222333344445555=offline") })) {
        qCritical("could not set up the stand-ins");
        return 1;
    }
    ProgramWaits waits;
    waits.cloudServiceBase = sim.baseUrl();
    ProgramWaits::setForTesting(waits);
    const QString serial = QStringLiteral("0011223344556677");
    if (!winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, "1.22.5.3")
        || !SpoolerFixture::addCloudPrinter(QStringLiteral("前台打印机"), 1, serial)
        || !SpoolerFixture::addCloudPrinter(
            QStringLiteral("仓库标签"), 2, QStringLiteral("2222333344445555"))) {
        qCritical("could not add the printers");
        return 1;
    }
    QFile::remove(detailFilePath(serial));
    appendDetailRecord(serial, QStringLiteral("季度报告.docx;09:12:40;打印成功;184320;09:12:44"));
    appendDetailRecord(serial, QStringLiteral("发票-2026-1207.pdf;09:30:05;打印成功;52224;09:30:08"));
    appendDetailRecord(serial, QStringLiteral("测试页;10:01:17;打印失败:设备离线;20480;10:01:18"));
    winsim::pausePrinter("前台打印机");
    winsim::submitJob("前台打印机", std::string("会议纪要.pdf"), std::vector<uint8_t>(4096, 'x'));

    bool ok = true;
    {
        TolMainWindow window;
        window.show();
        settle(1500);
        if (!printOnCards(window, sim.baseUrl())) {
            qCritical("could not print on the cards");
            ok = false;
        }
        settle(300);
        if (scaledOnly) {
            ok &= save(&window, output, QString::fromLocal8Bit(argv[3]) + QStringLiteral(".png"));
            winsim::reset();
            return ok ? 0 : 1;
        }
        ok &= save(&window, output, QStringLiteral("list.png"));
        for (DriverItem *card : window.findChildren<DriverItem *>()) {
            const bool offline = card->driverInfo().cloud_sn == QLatin1String("2222333344445555");
            ok &= save(card, output,
                offline ? QStringLiteral("card-failure.png") : QStringLiteral("card-success.png"));
        }

        window.findChild<QPushButton *>(QStringLiteral("pushButton_add"))->click();
        window.findChild<QLineEdit *>(QStringLiteral("lineEdit_name"))->setText(QStringLiteral("财务室"));
        window.findChild<QLineEdit *>(QStringLiteral("lineEdit_num"))
            ->setText(QStringLiteral("89ab01cd23ef4567"));
        settle(200);
        ok &= save(&window, output, QStringLiteral("add.png"));

        SettingsDlg history(QStringLiteral("前台打印机"), serial, &window);
        history.show();
        QMetaObject::invokeMethod(&history, "on_Timeout");
        settle(300);
        ok &= save(&history, output, QStringLiteral("history.png"));
        history.close();

        // The same history with jobs still on their way, and a failure that can be sent again.
        QTemporaryDir outboxFolder;
        OutboxJournal journal(outboxFolder.filePath(QStringLiteral("outbox.db")),
            outboxFolder.filePath(QStringLiteral("spool")));
        const QString failed = QStringLiteral("盘点表.xlsx;10:04:02");
        const qint64 kept = journal.addJob(QStringLiteral("前台打印机"), serial, failed);
        QFile keptBytes(journal.spoolFilePath(kept));
        ok &= keptBytes.open(QIODevice::WriteOnly) && keptBytes.write(QByteArray(30720, 'x')) == 30720;
        keptBytes.close();
        journal.setReceived(kept, 30720);
        journal.setFinal(kept, QStringLiteral("打印失败:设备离线"));
        appendJobRecord(serial, failed, QStringLiteral("打印失败:设备离线"), 30720);
        PrinterOutbox outbox(card(window, serial)->driverInfo(), &journal);
        const qint64 arriving
            = journal.addJob(QStringLiteral("前台打印机"), serial, QStringLiteral("合同扫描件.pdf;10:05:31"));
        outbox.addArriving(arriving);
        const qint64 behind
            = journal.addJob(QStringLiteral("前台打印机"), serial, QStringLiteral("周报.docx;10:05:33"));
        outbox.addArriving(behind);
        journal.setReceived(behind, 88064);
        outbox.addReceived(behind);
        SettingsDlg inFlight(QStringLiteral("前台打印机"), serial, &window);
        inFlight.setOutbox(&outbox);
        inFlight.show();
        QMetaObject::invokeMethod(&inFlight, "on_Timeout");
        settle(300);
        ok &= save(&inFlight, output, QStringLiteral("history-inflight.png"));
        inFlight.close();

        ErrorDialog message(QStringLiteral("云序号输入错误!"), nullptr);
        message.show();
        settle(300);
        ok &= save(&message, output, QStringLiteral("error.png"));
    }
    winsim::reset();
    return ok ? 0 : 1;
}
