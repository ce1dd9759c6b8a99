// Pictures of the program for the README and for review: the printer list with cards, the add
// form, the job history with rows and a message dialog, drawn by the real widgets over winsim and
// the cloud stand-in. Usage: courier_screenshots OUTPUT_FOLDER (run it on a display, e.g. Xvfb).

#include "cloudsimprocess.h"
#include "detailfile.h"
#include "errordialog.h"
#include "programfolder.h"
#include "relaysettings.h"
#include "settingsdlg.h"
#include "spoolerfixture.h"
#include "tolmainwindow.h"
#include "winsim/winsimcontrol.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
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

} // namespace

int main(int argc, char *argv[])
{
    QTemporaryDir root;
    qputenv("WINSIM_ROOT", root.path().toLocal8Bit());
    QApplication app(argc, argv);
    if (argc < 2) {
        qCritical("usage: courier_screenshots OUTPUT_FOLDER");
        return 2;
    }
    const QDir output(QString::fromLocal8Bit(argv[1]));
    registerDriverInfoMetaType();

    CloudSimProcess sim;
    if (!root.isValid() || !QDir().mkpath(output.path()) || !ProgramFolder::install() || !winsim::reset()
        || !sim.start({QStringLiteral("--default-device"), QStringLiteral("online"), QStringLiteral("--device"),
                       QStringLiteral("2222333344445555=offline")})) {
        qCritical("could not set up the stand-ins");
        return 1;
    }
    setCloudServiceBaseForTesting(sim.baseUrl());
    const QString serial = QStringLiteral("0011223344556677");
    if (!winsim::installDriver("Varn VN-210K", "Windows x64", "1.22.5.3")
        || !SpoolerFixture::addCloudPrinter(QStringLiteral("前台打印机"), 1, serial)
        || !SpoolerFixture::addCloudPrinter(QStringLiteral("仓库标签"), 2, QStringLiteral("2222333344445555"))) {
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
        ok &= save(&window, output, QStringLiteral("list.png"));

        window.findChild<QPushButton *>(QStringLiteral("pushButton_add"))->click();
        window.findChild<QLineEdit *>(QStringLiteral("lineEdit_name"))->setText(QStringLiteral("财务室"));
        window.findChild<QLineEdit *>(QStringLiteral("lineEdit_num"))->setText(QStringLiteral("89ab01cd23ef4567"));
        settle(200);
        ok &= save(&window, output, QStringLiteral("add.png"));

        SettingsDlg history(QStringLiteral("前台打印机"), serial, &window);
        history.show();
        QMetaObject::invokeMethod(&history, "on_Timeout");
        settle(300);
        ok &= save(&history, output, QStringLiteral("history.png"));
        history.close();

        ErrorDialog message(QStringLiteral("云序号输入错误!"), nullptr);
        message.show();
        settle(300);
        ok &= save(&message, output, QStringLiteral("error.png"));
    }
    winsim::reset();
    return ok ? 0 : 1;
}
