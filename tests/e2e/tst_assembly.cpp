#include "clock.h"
#include "cloudsimprocess.h"
#include "cprinter.h"
#include "detailfile.h"
#include "dialogwatcher.h"
#include "driveritem.h"
#include "logcapture.h"
#include "printerserver.h"
#include "programfolder.h"
#include "programstate.h"
#include "programwaits.h"
#include "scopedprogramwaits.h"
#include "settingsdlg.h"
#include "spoolerfixture.h"
#include "testprinters.h"
#include "testtiming.h"
#include "tolmainwindow.h"
#include "winsim/winsimcontrol.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScrollArea>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const char kSerial[] = "00112233AABBCCDD";

// The cards in the list, top to bottom.
QList<DriverItem *> cards(TolMainWindow &window)
{
    QList<DriverItem *> found;
    QLayout *layout = window.findChild<QScrollArea *>(QStringLiteral("scrollArea"))->widget()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        if (auto *card = qobject_cast<DriverItem *>(layout->itemAt(i)->widget()))
            found.append(card);
    }
    return found;
}

} // namespace

class TestAssembly : public QObject
{
    Q_OBJECT

private:
    CloudSimProcess m_sim;

    QStringList records(const QString &serial = QLatin1String(kSerial))
    {
        QStringList list = readDetailRecords(serial).split(QStringLiteral("!+!"));
        list.removeLast();
        return list;
    }

    void fillForm(TolMainWindow &window, const QString &serial, const QString &name)
    {
        window.findChild<QLineEdit *>(QStringLiteral("lineEdit_num"))->setText(serial);
        window.findChild<QLineEdit *>(QStringLiteral("lineEdit_name"))->setText(name);
    }

private slots:
    void initTestCase()
    {
        registerDriverInfoMetaType();
        QVERIFY(ProgramFolder::install());
        QVERIFY(m_sim.start({ QStringLiteral("--pending-polls"), QStringLiteral("0"),
            QStringLiteral("--default-device"), QStringLiteral("online") }));
        ProgramWaits waits;
        waits.cloudServiceBase = m_sim.baseUrl();
        ProgramWaits::setForTesting(waits);
    }

    void init()
    {
        QVERIFY(m_sim.reset());
        QVERIFY(winsim::reset());
        QFile::remove(QStringLiteral("task.db"));
        QFile::remove(detailFilePath(QLatin1String(kSerial)));
    }

    void cleanup() { QCOMPARE(winsim::openHandleCount(), 0); }

    void formChecksInOrder_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("both empty") << QString() << QString() << QStringLiteral("请输入云序号!");
        QTest::newRow("15 digits, no name")
            << QStringLiteral("0123456789ABCDE") << QString() << QStringLiteral("云序号输入错误!");
        QTest::newRow("not hex") << QStringLiteral("0123456789ABCDEX") << QStringLiteral("n")
                                 << QStringLiteral("云序号输入错误!");
        QTest::newRow("name empty") << QStringLiteral("0123456789abcdef") << QString()
                                    << QStringLiteral("请输入打印机名称!");
        QTest::newRow("quote in name") << QStringLiteral("0123456789abcdef") << QStringLiteral("a\"b")
                                       << QStringLiteral("打印机名无效!");
    }

    void formChecksInOrder()
    {
        QFETCH(QString, serial);
        QFETCH(QString, name);
        QFETCH(QString, message);
        TolMainWindow window;
        fillForm(window, serial, name);
        DialogWatcher dialogs;
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_ok")), Qt::LeftButton);
        QCOMPARE(dialogs.messages(), QStringList { message });
        QCOMPARE(winsim::rundllCommandLines().size(), size_t(0));
    }

    void addPrintTestAndDelete()
    {
        TolMainWindow window;
        window.show();
        QVERIFY(cards(window).isEmpty());

        // Add from the form, serial typed in lower case.
        fillForm(window, QStringLiteral("00112233aabbccdd"), QStringLiteral("前台"));
        DialogWatcher dialogs(QStringLiteral("确定"));
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_ok")), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(
            dialogs.messages().join(QLatin1Char('|')), QStringLiteral("添加成功"), TestTiming::scaled(60000));
        QTRY_COMPARE(cards(window).size(), 1);
        DriverItem *card = cards(window).first();
        QCOMPARE(card->driverInfo().printer_name, QStringLiteral("前台"));
        QCOMPARE(card->driverInfo().cloud_sn, QLatin1String(kSerial));
        QCOMPARE(card->driverInfo().port_num, quint16(8101));
        QCOMPARE(ProgramState::storedRows(), QStringList { QStringLiteral("前台|00112233AABBCCDD|8101") });
        QString serial;
        QVERIFY(CPrinter().GetCloudPrinterId(QStringLiteral("前台"), serial));
        QCOMPARE(serial, QLatin1String(kSerial));
        auto *server = card->findChild<PrinterServer *>();
        QVERIFY(server);
        QVERIFY(server->isListening());
        QCOMPARE(server->serverPort(), quint16(8101));

        // A print job from an application reaches the service and ends in one record.
        const QByteArray job = QByteArray("%!PS\n") + QByteArray(70000, 'q');
        QVERIFY(winsim::submitJob(
            "前台", std::string("letter.ps"), std::vector<uint8_t>(job.begin(), job.end())));
        QTRY_COMPARE_WITH_TIMEOUT(records().size(), 1, TestTiming::scaled(20000));
        const QStringList fields = records().first().split(QLatin1Char(';'));
        QCOMPARE(fields.size(), 5);
        QCOMPARE(fields.at(0), QStringLiteral("letter.ps"));
        QCOMPARE(fields.at(2), QStringLiteral("打印成功"));
        QCOMPARE(fields.at(3), QString::number(job.size()));
        const QJsonArray jobs
            = m_sim.adminGet(QStringLiteral("/admin/jobs")).object().value(QStringLiteral("jobs")).toArray();
        QCOMPARE(jobs.size(), 1);
        const QJsonObject received = jobs.at(0).toObject();
        QCOMPARE(received.value(QStringLiteral("serial")).toString(), QLatin1String(kSerial));
        QCOMPARE(m_sim.jobData(received.value(QStringLiteral("jobId")).toString()), job);

        // The test page from the card: its result comes in a dialog.
        dialogs.clear();
        card->onTestClicked();
        QTRY_COMPARE_WITH_TIMEOUT(
            dialogs.messages().join(QLatin1Char('|')), QStringLiteral("打印成功"), TestTiming::scaled(30000));
        QTRY_COMPARE(records().size(), 2);
        QVERIFY(records().last().startsWith(QStringLiteral("测试页;")));

        // Delete, once confirmed: card, listener and row go; the port stops listening.
        dialogs.clear();
        card->onDeleteClicked();
        QTRY_VERIFY_WITH_TIMEOUT(cards(window).isEmpty(), TestTiming::scaled(20000));
        QTRY_VERIFY(!ProgramState::acceptsConnections(8101));
        QVERIFY(ProgramState::storedRows().isEmpty());
        QCOMPARE(dialogs.messages(), QStringList { QStringLiteral("确定删除打印机 前台？") });
    }

    void failedJobsTellTheTrayOncePerMinute()
    {
        QVERIFY(m_sim.configure({ { QStringLiteral("devices"),
            QJsonObject { { QLatin1String(kSerial), QStringLiteral("offline") } } } }));
        QVERIFY(
            winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("前台"), 1, QLatin1String(kSerial)));
        LogCapture log;
        TolMainWindow window;
        QCOMPARE(cards(window).size(), 1);
        QLabel *line = cards(window).first()->form().resultLabel;

        QVERIFY(winsim::submitJob("前台", std::string("会议纪要.pdf"), std::vector<uint8_t>(100, 'a')));
        QTRY_COMPARE_WITH_TIMEOUT(records().size(), 1, TestTiming::scaled(20000));
        QVERIFY(line->text().startsWith(QStringLiteral("上次打印：打印失败:设备离线  会议纪要.pdf  ")));
        QTRY_COMPARE(log.count(QStringLiteral("tray message:")), 1);
        QCOMPARE(log.linesContaining(
                        QStringLiteral("tray message: 打印机 前台：打印失败:设备离线 文档：会议纪要.pdf"))
                     .size(),
            1);

        // The second failure within the minute is on the card and in the history, not in the tray.
        QVERIFY(winsim::submitJob("前台", std::string("发票.pdf"), std::vector<uint8_t>(100, 'b')));
        QTRY_COMPARE_WITH_TIMEOUT(records().size(), 2, TestTiming::scaled(20000));
        QVERIFY(line->text().startsWith(QStringLiteral("上次打印：打印失败:设备离线  发票.pdf  ")));
        QCOMPARE(log.count(QStringLiteral("tray message:")), 1);
    }

    // A job that failed at the device is sent again from its history row: the service gets the same
    // bytes a second time, as a job of its own with a record of its own; its row offers no second try.
    void failedJobIsSentAgainFromItsHistory()
    {
        QVERIFY(m_sim.configure({ { QStringLiteral("devices"),
            QJsonObject { { QLatin1String(kSerial), QStringLiteral("offline") } } } }));
        QVERIFY(
            winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("前台"), 1, QLatin1String(kSerial)));
        TolMainWindow window;
        QCOMPARE(cards(window).size(), 1);
        DriverItem *card = cards(window).first();
        QVERIFY(winsim::submitJob("前台", std::string("合同.pdf"), std::vector<uint8_t>(300, 'c')));
        QTRY_COMPARE_WITH_TIMEOUT(records().size(), 1, TestTiming::scaled(20000));
        QVERIFY(records().first().contains(QStringLiteral(";打印失败:设备离线;300;")));
        QVERIFY(m_sim.configure({ { QStringLiteral("devices"),
            QJsonObject { { QLatin1String(kSerial), QStringLiteral("online") } } } }));

        // The card's history runs modally: it is driven from within its own event loop.
        int buttons = -1;
        int buttonsAfter = -1;
        QTimer::singleShot(0, this, [&] {
            auto *dialog = qobject_cast<SettingsDlg *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            QList<QPushButton *> resend
                = dialog->table()->findChildren<QPushButton *>(QStringLiteral("resendButton"));
            buttons = resend.size();
            if (buttons == 1)
                resend.first()->click();
            QApplication::processEvents();
            buttonsAfter = 0;
            for (QPushButton *button :
                dialog->table()->findChildren<QPushButton *>(QStringLiteral("resendButton")))
                buttonsAfter += button->isVisible() && button->isEnabled() ? 1 : 0;
            dialog->close();
        });
        card->onStateClicked();
        QCOMPARE(buttons, 1);
        QCOMPARE(buttonsAfter, 0);

        QTRY_COMPARE_WITH_TIMEOUT(records().size(), 2, TestTiming::scaled(20000));
        QVERIFY(records().at(1).startsWith(QStringLiteral("合同.pdf;")));
        QVERIFY(records().at(1).contains(QStringLiteral(";打印成功;300;")));
        const QJsonArray jobs = m_sim.jobs();
        QCOMPARE(jobs.size(), 2);
        QCOMPARE(jobs.at(0).toObject().value(QStringLiteral("crc32")),
            jobs.at(1).toObject().value(QStringLiteral("crc32")));
        QVERIFY(jobs.at(0).toObject().value(QStringLiteral("jobId"))
            != jobs.at(1).toObject().value(QStringLiteral("jobId")));
    }

    void startupListsCloudPrinters()
    {
        QVERIFY(
            winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
        QVERIFY(
            SpoolerFixture::addCloudPrinter(QStringLiteral("Cloud1"), 1, QStringLiteral("1111111111111111")));
        QVERIFY(winsim::addPrinter("Plain", "FILE:", TestPrinters::kDriver));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("NoPort"), 2));
        QVERIFY(
            SpoolerFixture::addCloudPrinter(QStringLiteral("Twin"), 3, QStringLiteral("3333333333333333")));
        QVERIFY(CPrinter().SetPrinterPortNum(QStringLiteral("Twin"), 8101));

        LogCapture log;
        TolMainWindow window;
        QStringList names;
        for (DriverItem *card : cards(window))
            names << card->driverInfo().printer_name;
        QCOMPARE(names, (QStringList { QStringLiteral("Cloud1"), QStringLiteral("Twin") }));
        QCOMPARE(log.count(QStringLiteral("GetPrinterPortNum name: NoPort, port: 0 failed")), 1);
        const QStringList critical = log.lines(QtCriticalMsg);
        QVERIFY2(critical.contains(QStringLiteral("listen ip: 127.0.0.1 port: 8101, failed")),
            qPrintable(critical.join(QLatin1Char('\n'))));
        QVERIFY(ProgramState::acceptsConnections(8101));
    }

    // Over many printers only the cards in sight are made at once; one scrolled to is made then,
    // with the state that came for it meanwhile, and every card asks through the window's one client.
    void cardsOutOfSightAreMadeWhenSeen()
    {
        QVERIFY(
            winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
        const int printers = 8;
        for (int i = 1; i <= printers; ++i) {
            QVERIFY(SpoolerFixture::addCloudPrinter(
                QStringLiteral("Cloud%1").arg(i), i, QStringLiteral("%1").arg(i, 16, 10, QLatin1Char('1'))));
        }
        TolMainWindow window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QList<DriverItem *> listed = cards(window);
        QCOMPARE(listed.size(), printers);
        const auto built = [](DriverItem *card) { return card->findChild<QLineEdit *>() != nullptr; };
        QTRY_VERIFY(built(listed.first()));
        QVERIFY(!built(listed.last()));
        for (DriverItem *card : listed)
            QVERIFY(
                card->findChildren<QNetworkAccessManager *>(QString(), Qt::FindDirectChildrenOnly).isEmpty());

        // Every card's first state query has been answered by the service.
        QTRY_VERIFY(m_sim.adminGet(QStringLiteral("/admin/stats"))
                        .object()
                        .value(QStringLiteral("state"))
                        .toObject()
                        .value(QStringLiteral("requests"))
                        .toInt()
            >= printers);
        auto *area = window.findChild<QScrollArea *>(QStringLiteral("scrollArea"));
        QVERIFY(area);
        area->ensureWidgetVisible(listed.last());
        QTRY_VERIFY(built(listed.last()));
        QTRY_COMPARE(listed.last()->form().stateEdit->text(), QStringLiteral("在线"));
        QCOMPARE(listed.last()->form().nameEdit->text(), QStringLiteral("Cloud%1").arg(printers));
    }

    void removalFailureKeepsCard()
    {
        QVERIFY(
            winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
        QVERIFY(
            SpoolerFixture::addCloudPrinter(QStringLiteral("Cloud1"), 1, QStringLiteral("1111111111111111")));
        TolMainWindow window;
        QCOMPARE(cards(window).size(), 1);
        winsim::failCall("DeletePrinter", 1, ERROR_ACCESS_DENIED);
        DialogWatcher dialogs(QStringLiteral("确定"));
        cards(window).first()->onDeleteClicked();
        QTRY_COMPARE_WITH_TIMEOUT(dialogs.messages(),
            (QStringList { QStringLiteral("确定删除打印机 Cloud1？"), QStringLiteral("删除打印机失败") }),
            TestTiming::scaled(20000));
        QCOMPARE(cards(window).size(), 1);
        QVERIFY(ProgramState::acceptsConnections(8101));
    }

    void housekeepingRunsOnce()
    {
        QDir logs(QCoreApplication::applicationDirPath() + QStringLiteral("/logs"));
        QDir details(QCoreApplication::applicationDirPath() + QStringLiteral("/details"));
        Clock::setFixedForTesting(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
        for (const QString &path : { logs.filePath(QStringLiteral("2026-11-01.log")),
                 logs.filePath(QStringLiteral("2026-12-06.log")),
                 details.filePath(QStringLiteral("1111111111111111") + QStringLiteral("2026-12-01.txt")) }) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        ProgramWaits waits = ProgramWaits::current();
        waits.housekeepingDelayMs = 50;
        const ScopedProgramWaits soonHousekeeping(waits);
        LogCapture log;
        TolMainWindow window;
        QTRY_COMPARE(log.count(QStringLiteral("删除旧日志")), 1);
        QVERIFY(!QFile::exists(logs.filePath(QStringLiteral("2026-11-01.log"))));
        QVERIFY(QFile::exists(logs.filePath(QStringLiteral("2026-12-06.log"))));
        QVERIFY(!QFile::exists(details.filePath(QStringLiteral("11111111111111112026-12-01.txt"))));
        QTest::qWait(200);
        QCOMPARE(log.count(QStringLiteral("删除旧日志")), 1);
        Clock::resetForTesting();
    }
};

QTEST_MAIN(TestAssembly)
#include "tst_assembly.moc"
