#include "cardshadow.h"
#include "clock.h"
#include "cloud.h"
#include "cloudsimprocess.h"
#include "cprinter.h"
#include "detailfile.h"
#include "dialogwatcher.h"
#include "driveritem.h"
#include "printerrecordstore.h"
#include "programfolder.h"
#include "programstate.h"
#include "programwaits.h"
#include "qcircleprocess.h"
#include "scopedprogramwaits.h"
#include "spoolerfixture.h"
#include "testprinters.h"
#include "winsim/winsimcontrol.h"

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

const char kSerial[] = "0123456789ABCDEF";

DriverInfo cardInfo(
    const QString &name = QStringLiteral("P1"), const QString &serial = QLatin1String(kSerial))
{
    DriverInfo info;
    info.printer_name = name;
    info.cloud_sn = serial;
    info.port_name = QStringLiteral("REDadez001");
    info.port_num = 8101;
    info.driver_name = TestPrinters::driverName();
    return info;
}

// Waits for the card's next device-state answer to be handled.
bool waitForDeviceAnswer(DriverItem &card, int answers = 1)
{
    auto *manager = card.findChild<QNetworkAccessManager *>();
    QSignalSpy finished(manager, &QNetworkAccessManager::finished);
    while (finished.count() < answers) {
        if (!finished.wait(10000))
            return false;
    }
    QCoreApplication::processEvents();
    return true;
}

// The program's messages on screen, modal or not.
QList<QDialog *> shownMessages()
{
    QList<QDialog *> shown;
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        if (dialog && dialog->isVisible() && dialog->objectName() == QLatin1String("errorDialog"))
            shown.append(dialog);
    }
    return shown;
}

QString messageOf(QDialog *dialog)
{
    QStringList texts;
    for (QLabel *label : dialog->findChildren<QLabel *>()) {
        if (!label->text().isEmpty())
            texts << label->text();
    }
    return texts.join(QLatin1Char('\n'));
}

void closeShownMessages()
{
    for (QDialog *dialog : shownMessages())
        dialog->close();
}

// The whole text fits the field's text area: its inner margins of 2 px each side stay free.
bool showsWhole(const QLineEdit *field, const QString &text)
{
    const QFontMetrics metrics(field->font());
    return metrics.horizontalAdvance(text) + 4 <= field->contentsRect().width()
        && metrics.height() <= field->contentsRect().height();
}

// The question the card asks before a removal, answered with the button of the given text; what it
// asked and which button Enter would have pressed are kept.
struct QuestionAnswerer
{
    explicit QuestionAnswerer(const QString &button)
        : answer(button)
    {
    }

    QString answer;
    QStringList asked;
    QStringList defaults;

    void arm()
    {
        QTimer::singleShot(0, [this] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box) {
                arm();
                return;
            }
            asked << box->text();
            defaults << (box->defaultButton() ? box->defaultButton()->text() : QString());
            for (QAbstractButton *button : box->buttons()) {
                if (button->text() == answer)
                    button->click();
            }
        });
    }
};

} // namespace

class TestDriverItem : public QObject
{
    Q_OBJECT

private:
    CloudSimProcess m_sim;

    // Posts a real job to the stand-in and hands back what the listener would pass to the card.
    QJsonDocument postJob(const QString &jobneed, const QByteArray &data)
    {
        Cloud cloud(m_sim.baseUrl() + QStringLiteral("/v1.1/transparentPrinting"), cardInfo());
        QSignalSpy result(&cloud, &Cloud::cloudResule);
        if (!cloud.request(data, data.size(), jobneed) || !result.wait(10000))
            return QJsonDocument();
        return result.at(0).at(1).value<QJsonDocument>();
    }

    QStringList todaysRecords()
    {
        QStringList records = readDetailRecords(QLatin1String(kSerial)).split(QStringLiteral("!+!"));
        records.removeLast();
        return records;
    }

private slots:
    // The card's shadow lies down and to the right of its panel, darkest under it, fading to nothing
    // at the image's edge, and follows the panel's rounded corners; it is drawn once a size.
    void cardShadow()
    {
        const QSize panel(600, 140);
        const QImage shadow = CardShadow::image(panel, 1.0);
        QCOMPARE(shadow.size(), panel + QSize(2 * CardShadow::kBlur, 2 * CardShadow::kBlur));
        const auto alphaAt = [&shadow](int x, int y) { return qAlpha(shadow.pixel(x, y)); };
        const int middle = CardShadow::kBlur + panel.height() / 2;
        QCOMPARE(alphaAt(shadow.width() / 2, middle), CardShadow::kOpacity);
        for (int y : { 0, shadow.height() - 1 })
            QCOMPARE(alphaAt(shadow.width() / 2, y), 0);
        QVERIFY(alphaAt(CardShadow::kBlur - 2, middle) > 0);
        QVERIFY(alphaAt(CardShadow::kBlur - 2, middle) < CardShadow::kOpacity);
        // Rounded corners: top-left and bottom-right have nothing under their corner pixel; the
        // square top-right has its full shadow just inside its corner.
        const int in = CardShadow::kBlur + CardShadow::kBlur;
        QCOMPARE(alphaAt(in, in), 0);
        QCOMPARE(alphaAt(shadow.width() - 1 - in, shadow.height() - 1 - in), 0);
        QCOMPARE(alphaAt(shadow.width() - 1 - in, in), CardShadow::kOpacity);
        QCOMPARE(CardShadow::image(panel, 1.0).cacheKey(), shadow.cacheKey());
        QCOMPARE(CardShadow::image(panel, 2.0).size(), shadow.size() * 2);
        QCOMPARE(CardShadow::origin(QRect(QPoint(10, 20), panel)),
            QPoint(
                10 + CardShadow::kOffset - CardShadow::kBlur, 20 + CardShadow::kOffset - CardShadow::kBlur));
    }

    void initTestCase()
    {
        registerDriverInfoMetaType();
        qRegisterMetaType<QNetworkReply::NetworkError>();
        QVERIFY(ProgramFolder::install());
        QVERIFY(m_sim.start());
        ProgramWaits waits;
        waits.cloudServiceBase = m_sim.baseUrl();
        ProgramWaits::setForTesting(waits);
        Clock::setFixedForTesting(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 1)));
    }

    void init()
    {
        QVERIFY(m_sim.reset());
        QVERIFY(winsim::reset());
        QFile::remove(QStringLiteral("task.db"));
        QFile::remove(detailFilePath(QLatin1String(kSerial)));
        QVERIFY(
            winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("P1"), 1, QLatin1String(kSerial)));
        QVERIFY(insertPrinterRecord(cardInfo()));
    }

    void cleanup() { QCOMPARE(winsim::openHandleCount(), 0); }

    void deviceState_data()
    {
        QTest::addColumn<QJsonValue>("device");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("period");
        QTest::newRow("offline") << QJsonValue(QStringLiteral("offline")) << QStringLiteral("离线") << 10000;
        QTest::newRow("online") << QJsonValue(QStringLiteral("online")) << QStringLiteral("在线") << 300000;
        QTest::newRow("unknown, 1001")
            << QJsonValue(QStringLiteral("unknown")) << QStringLiteral("离线") << 10000;
        QTest::newRow("unbound, 4002")
            << QJsonValue(QStringLiteral("unbound")) << QStringLiteral("离线") << 10000;
        QTest::newRow("code 2 states nothing") << QJsonValue(QJsonObject {
            { QStringLiteral("state"), QStringLiteral("online") }, { QStringLiteral("code"), 2 } })
                                               << QString() << 5000;
    }

    void deviceState()
    {
        QFETCH(QJsonValue, device);
        QFETCH(QString, shown);
        QFETCH(int, period);
        QVERIFY(m_sim.configure(
            { { QStringLiteral("devices"), QJsonObject { { QLatin1String(kSerial), device } } } }));
        DriverItem card(cardInfo());
        QVERIFY(waitForDeviceAnswer(card));
        QCOMPARE(card.form().stateEdit->text(), shown);
        QCOMPARE(card.devStateTimer()->interval(), period);
        QVERIFY(card.devStateTimer()->isActive());
        const QJsonObject stats = m_sim.adminGet(QStringLiteral("/admin/stats")).object();
        QCOMPARE(
            stats.value(QStringLiteral("state")).toObject().value(QStringLiteral("requests")).toInt(), 1);
    }

    void deviceStateNetworkErrorAndRefresh()
    {
        QVERIFY(m_sim.configure({ { QStringLiteral("devices"),
                                      QJsonObject { { QLatin1String(kSerial), QStringLiteral("online") } } },
            { QStringLiteral("state"),
                QJsonObject { { QStringLiteral("fault"), QStringLiteral("500") } } } }));
        DriverItem card(cardInfo());
        QVERIFY(waitForDeviceAnswer(card));
        QCOMPARE(card.form().stateEdit->text(), QStringLiteral("--"));
        QCOMPARE(card.devStateTimer()->interval(), 5000);

        // Two quick presses send two requests; the spinner stops at the first answer.
        QVERIFY(m_sim.configure({ { QStringLiteral("state"),
            QJsonObject { { QStringLiteral("fault"), QStringLiteral("none") },
                { QStringLiteral("delayMs"), 300 } } } }));
        auto *spinner = card.form().refreshSpinner;
        card.onDevStateClicked();
        card.onDevStateClicked();
        QVERIFY(spinner->isAnimated());
        QVERIFY(waitForDeviceAnswer(card));
        QVERIFY(!spinner->isAnimated());
        QVERIFY(waitForDeviceAnswer(card));
        QCOMPARE(card.form().stateEdit->text(), QStringLiteral("在线"));
        const QJsonObject stats = m_sim.adminGet(QStringLiteral("/admin/stats")).object();
        QCOMPARE(
            stats.value(QStringLiteral("state")).toObject().value(QStringLiteral("requests")).toInt(), 3);
    }

    void modifyUnchangedCallsNothing()
    {
        DriverItem card(cardInfo());
        QSignalSpy changed(&card, &DriverItem::driverInfoChanged);
        const int storesBefore = winsim::callCount("SetPrinterDataW");
        const QRect nameBefore = card.form().nameEdit->geometry();
        const QRect serialBefore = card.form().serialEdit->geometry();
        // The look the card's sheet gives a field: its text colour.
        const auto textColour = [](QWidget *field) {
            field->ensurePolished();
            return field->palette().color(QPalette::Text).name();
        };
        const QString lookBefore = textColour(card.form().serialEdit);
        QCOMPARE(lookBefore, QStringLiteral("#444444"));
        card.onModifyClicked();
        QVERIFY(!card.isViewMode());
        QVERIFY(!card.form().nameEdit->isReadOnly());
        QCOMPARE(textColour(card.form().serialEdit), QStringLiteral("#707070"));
        card.onModifyClicked();
        QVERIFY(card.isViewMode());
        QVERIFY(card.form().nameEdit->isReadOnly());
        QCOMPARE(card.form().nameEdit->geometry(), nameBefore);
        QCOMPARE(card.form().serialEdit->geometry(), serialBefore);
        QCOMPARE(textColour(card.form().serialEdit), lookBefore);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(winsim::callCount("SetPrinterDataW"), storesBefore);
        QCOMPARE(winsim::callCount("SetPrinterW"), 0);
    }

    void modifySerialAndName()
    {
        DriverItem card(cardInfo());
        QSignalSpy changed(&card, &DriverItem::driverInfoChanged);

        // Serial only, typed in lower case.
        card.onModifyClicked();
        card.form().serialEdit->setText(QStringLiteral("fedcba9876543210"));
        card.onModifyClicked();
        QVERIFY(card.isViewMode());
        QCOMPARE(card.form().serialEdit->text(), QStringLiteral("FEDCBA9876543210"));
        QCOMPARE(SpoolerFixture::cloudSerial(QStringLiteral("P1")), QStringLiteral("FEDCBA9876543210"));
        QCOMPARE(ProgramState::storedRows(QStringLiteral("printer_name, cloud_sn")),
            QStringList { QStringLiteral("P1|FEDCBA9876543210") });
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<DriverInfo>().cloud_sn, QStringLiteral("FEDCBA9876543210"));

        // Name only, with a quote that the store must keep as it is.
        changed.clear();
        card.onModifyClicked();
        card.form().nameEdit->setText(QStringLiteral("O'Neil"));
        card.onModifyClicked();
        QVERIFY(card.isViewMode());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(card.driverInfo().printer_name, QStringLiteral("O'Neil"));
        QCOMPARE(SpoolerFixture::cloudSerial(QStringLiteral("O'Neil")), QStringLiteral("FEDCBA9876543210"));
        QCOMPARE(ProgramState::storedRows(QStringLiteral("printer_name, cloud_sn")),
            QStringList { QStringLiteral("O'Neil|FEDCBA9876543210") });

        // Both: the serial's change is told first.
        changed.clear();
        card.onModifyClicked();
        card.form().serialEdit->setText(QStringLiteral("1111111111111111"));
        card.form().nameEdit->setText(QStringLiteral("Q"));
        card.onModifyClicked();
        QCOMPARE(changed.count(), 2);
        const DriverInfo first = changed.at(0).at(0).value<DriverInfo>();
        const DriverInfo second = changed.at(1).at(0).value<DriverInfo>();
        QCOMPARE(first.cloud_sn, QStringLiteral("1111111111111111"));
        QCOMPARE(first.printer_name, QStringLiteral("O'Neil"));
        QCOMPARE(second.printer_name, QStringLiteral("Q"));
        QCOMPARE(ProgramState::storedRows(QStringLiteral("printer_name, cloud_sn")),
            QStringList { QStringLiteral("Q|1111111111111111") });
    }

    void modifyErrors_data()
    {
        QTest::addColumn<QString>("serial");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("failCall");
        QTest::addColumn<QString>("message");
        QTest::newRow("serial emptied")
            << QString() << QStringLiteral("P1") << QString() << QStringLiteral("请输入云序号!");
        QTest::newRow("serial too short") << QStringLiteral("ABC") << QStringLiteral("P1") << QString()
                                          << QStringLiteral("云序号输入错误!");
        QTest::newRow("serial with a G") << QStringLiteral("0123456789ABCDEG") << QStringLiteral("P1")
                                         << QString() << QStringLiteral("云序号输入错误!");
        QTest::newRow("printer gone") << QStringLiteral("1111111111111111") << QStringLiteral("P1")
                                      << QStringLiteral("OpenPrinterW") << QStringLiteral("打印机名无效!");
        QTest::newRow("store refused")
            << QStringLiteral("1111111111111111") << QStringLiteral("P1") << QStringLiteral("SetPrinterDataW")
            << QStringLiteral("修改云序号失败!");
        QTest::newRow("rename refused")
            << QString::fromLatin1(kSerial) << QStringLiteral("Other") << QStringLiteral("SetPrinterW")
            << QStringLiteral("修改打印机名失败!");
        QTest::newRow("quote in name") << QString::fromLatin1(kSerial) << QStringLiteral("a\"b") << QString()
                                       << QStringLiteral("打印机名无效!");
    }

    void modifyErrors()
    {
        QFETCH(QString, serial);
        QFETCH(QString, name);
        QFETCH(QString, failCall);
        QFETCH(QString, message);
        DriverItem card(cardInfo());
        QSignalSpy changed(&card, &DriverItem::driverInfoChanged);
        card.onModifyClicked();
        card.form().serialEdit->setText(serial);
        card.form().nameEdit->setText(name);
        if (failCall == QLatin1String("OpenPrinterW"))
            winsim::failCall("OpenPrinterW", 1, ERROR_INVALID_PRINTER_NAME);
        else if (!failCall.isEmpty())
            winsim::failCall(failCall.toStdString(), 1, ERROR_ACCESS_DENIED);
        DialogWatcher dialogs;
        card.onModifyClicked();
        QCOMPARE(dialogs.messages(), QStringList { message });
        QVERIFY(!card.isViewMode());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(SpoolerFixture::cloudSerial(QStringLiteral("P1")), QLatin1String(kSerial));
        QCOMPARE(ProgramState::storedRows(QStringLiteral("printer_name, cloud_sn")),
            QStringList { QStringLiteral("P1|") + QLatin1String(kSerial) });
    }

    void tooLargeRecordsAtOnce()
    {
        DriverItem card(cardInfo());
        QSignalSpy busy(&card, &DriverItem::portBusy);
        const QJsonObject doc { { QStringLiteral("jobneed"), QStringLiteral("big.pdf;09:59:58") },
            { QStringLiteral("jobSize"), 5 } };
        card.onCloudResut(QNetworkReply::UnknownContentError, QJsonDocument(doc));
        QCOMPARE(todaysRecords(),
            QStringList { QStringLiteral("big.pdf;09:59:58;打印失败:打印文件过大;5;10:00:01") });
        QCOMPARE(busy.count(), 1);
        QCOMPARE(busy.at(0).at(0).toBool(), false);
        QVERIFY(!card.stateTimer()->isActive());
    }

    void followsJobToItsEnd()
    {
        QVERIFY(m_sim.configure({ { QStringLiteral("pendingPolls"), 2 },
            { QStringLiteral("devices"),
                QJsonObject { { QLatin1String(kSerial), QStringLiteral("online") } } } }));
        DriverItem card(cardInfo());
        QSignalSpy busy(&card, &DriverItem::portBusy);
        DialogWatcher dialogs;
        const QJsonDocument posted = postJob(QStringLiteral("report.docx;09:59:59"), QByteArray(1234, 'x'));
        QVERIFY(posted.isObject());
        card.onCloudResut(QNetworkReply::NoError, posted);
        QCOMPARE(busy.count(), 1);
        QVERIFY(busy.at(0).at(0).toBool());
        QVERIFY(card.stateTimer()->isActive());

        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 2, 15000);
        QVERIFY(!busy.at(1).at(0).toBool());
        QVERIFY(!card.stateTimer()->isActive());
        const QStringList records = todaysRecords();
        QCOMPARE(records, QStringList { QStringLiteral("report.docx;09:59:59;打印成功;1234;10:00:01") });
        QCOMPARE(records.at(0).split(QLatin1Char(';')).size(), 5);
        // Three queries, one at a time; no dialog for an ordinary job.
        const QJsonObject result = m_sim.adminGet(QStringLiteral("/admin/stats"))
                                       .object()
                                       .value(QStringLiteral("result"))
                                       .toObject();
        QCOMPARE(result.value(QStringLiteral("requests")).toInt(), 3);
        QCOMPARE(result.value(QStringLiteral("inFlightMax")).toInt(), 1);
        QVERIFY(dialogs.messages().isEmpty());
    }

    void resultShapes_data()
    {
        QTest::addColumn<QJsonObject>("config");
        QTest::addColumn<QString>("jobneed");
        QTest::addColumn<QString>("recorded");
        QTest::addColumn<QStringList>("dialogs");
        const QJsonObject online { { QLatin1String(kSerial), QStringLiteral("online") } };
        const QJsonObject offline { { QLatin1String(kSerial), QStringLiteral("offline") } };
        QTest::newRow("serial missing from data")
            << QJsonObject { { QStringLiteral("resultShape"), QStringLiteral("empty-object") },
                   { QStringLiteral("devices"), online } }
            << QStringLiteral("a.txt;10:00:00") << QStringLiteral("打印失败:") << QStringList();
        QTest::newRow("plain text data kept as it is")
            << QJsonObject { { QStringLiteral("resultShape"), QStringLiteral("text") },
                   { QStringLiteral("devices"), offline } }
            << QStringLiteral("a.txt;10:00:00") << QStringLiteral("离线") << QStringList();
        QTest::newRow("offline device")
            << QJsonObject { { QStringLiteral("devices"), offline } } << QStringLiteral("a.txt;10:00:00")
            << QStringLiteral("打印失败:设备离线") << QStringList();
        QTest::newRow("test page shows its result")
            << QJsonObject { { QStringLiteral("devices"), online } } << QStringLiteral("测试页;10:00:00")
            << QStringLiteral("打印成功") << QStringList { QStringLiteral("打印成功") };
        QTest::newRow("test page lost on the way") << QJsonObject { { QStringLiteral("devices"), online },
            { QStringLiteral("result"), QJsonObject { { QStringLiteral("fault"), QStringLiteral("500") } } } }
                                                   << QStringLiteral("测试页;10:00:00")
                                                   << QStringLiteral("打印失败:网络访问异常")
                                                   << QStringList { QStringLiteral(
                                                          "打印失败:网络访问异常!") };
    }

    void resultShapes()
    {
        QFETCH(QJsonObject, config);
        QFETCH(QString, jobneed);
        QFETCH(QString, recorded);
        QFETCH(QStringList, dialogs);
        config.insert(QStringLiteral("pendingPolls"), 0);
        QVERIFY(m_sim.configure(config));
        DriverItem card(cardInfo());
        QSignalSpy busy(&card, &DriverItem::portBusy);
        DialogWatcher watcher;
        card.form().testSpinner->startAnimation();
        card.onCloudResut(QNetworkReply::NoError, postJob(jobneed, QByteArray("abc")));
        QTRY_COMPARE_WITH_TIMEOUT(busy.count(), 2, 15000);
        QCOMPARE(todaysRecords(),
            QStringList { jobneed + QLatin1Char(';') + recorded + QStringLiteral(";3;10:00:01") });
        // The watcher looks every 10 ms; the dialog came with the record.
        QTRY_COMPARE(watcher.messages(), dialogs);
        QVERIFY(!card.form().testSpinner->isAnimated());
    }

    void failedPostOfTestPage()
    {
        DriverItem card(cardInfo());
        QSignalSpy busy(&card, &DriverItem::portBusy);
        DialogWatcher watcher;
        const QJsonObject doc { { QStringLiteral("jobneed"), QStringLiteral("测试页;10:00:00") },
            { QStringLiteral("jobSize"), 7 } };
        card.onCloudResut(QNetworkReply::ConnectionRefusedError, QJsonDocument(doc));
        // Recorded and the port freed by the time the slot returns, the message up without waiting.
        QCOMPARE(todaysRecords(),
            QStringList { QStringLiteral("测试页;10:00:00;打印失败:网络访问异常;7;10:00:01") });
        QCOMPARE(busy.count(), 1);
        QCOMPARE(shownMessages().size(), 1);
        QVERIFY(!QApplication::activeModalWidget());
        QTRY_COMPARE(watcher.messages(), QStringList { QStringLiteral("打印失败:网络访问异常!") });
        // Closed, the message is gone for good.
        QTRY_VERIFY(card.findChildren<QDialog *>().isEmpty());
    }

    void jobEndingWhileTestPageMessageIsOpen()
    {
        QVERIFY(m_sim.configure({ { QStringLiteral("pendingPolls"), 0 },
            { QStringLiteral("devices"),
                QJsonObject { { QLatin1String(kSerial), QStringLiteral("online") } } } }));
        DriverItem card(cardInfo());
        QSignalSpy busy(&card, &DriverItem::portBusy);
        card.onCloudResut(
            QNetworkReply::NoError, postJob(QStringLiteral("测试页;10:00:00"), QByteArray("abc")));
        QTRY_COMPARE_WITH_TIMEOUT(todaysRecords().size(), 1, 15000);
        QCOMPARE(shownMessages().size(), 1);
        QCOMPARE(messageOf(shownMessages().first()), QStringLiteral("打印成功"));

        // The message stays open while the next job comes and goes: each job keeps its own record.
        card.onCloudResut(
            QNetworkReply::NoError, postJob(QStringLiteral("b.txt;10:00:02"), QByteArray("12345")));
        QTRY_COMPARE_WITH_TIMEOUT(todaysRecords().size(), 2, 15000);
        QCOMPARE(todaysRecords(),
            (QStringList { QStringLiteral("测试页;10:00:00;打印成功;3;10:00:01"),
                QStringLiteral("b.txt;10:00:02;打印成功;5;10:00:01") }));
        QCOMPARE(shownMessages().size(), 1);
        QTRY_COMPARE(busy.count(), 4);
        QVERIFY(!busy.last().at(0).toBool());
        closeShownMessages();
    }

    void textResultWithMessageLeftOpen()
    {
        // With the message open past the reply limit, the ended job must not be ended a second time.
        ProgramWaits waits = ProgramWaits::current();
        waits.cloudReplyTimeoutMs = 200;
        const ScopedProgramWaits shortReplies(waits);
        QVERIFY(m_sim.configure({ { QStringLiteral("pendingPolls"), 0 },
            { QStringLiteral("resultShape"), QStringLiteral("text") },
            { QStringLiteral("devices"),
                QJsonObject { { QLatin1String(kSerial), QStringLiteral("offline") } } } }));
        {
            DriverItem card(cardInfo());
            QSignalSpy recorded(&card, &DriverItem::jobRecorded);
            card.onCloudResut(
                QNetworkReply::NoError, postJob(QStringLiteral("测试页;10:00:00"), QByteArray("abc")));
            QVERIFY(recorded.wait(15000));
            QCOMPARE(shownMessages().size(), 1);
            QTest::qWait(1500);
            QCOMPARE(recorded.count(), 1);
            QCOMPARE(todaysRecords(), QStringList { QStringLiteral("测试页;10:00:00;离线;3;10:00:01") });
            QVERIFY(!card.stateTimer()->isActive());
            QCOMPARE(shownMessages().size(), 1);
            closeShownMessages();
        }
    }

    void failedTestPageMessageDoesNotHoldTheQueue()
    {
        QVERIFY(m_sim.configure({ { QStringLiteral("pendingPolls"), 0 },
            { QStringLiteral("devices"),
                QJsonObject { { QLatin1String(kSerial), QStringLiteral("online") } } } }));
        DriverItem card(cardInfo());
        QSignalSpy busy(&card, &DriverItem::portBusy);
        const QJsonObject doc { { QStringLiteral("jobneed"), QStringLiteral("测试页;10:00:00") },
            { QStringLiteral("jobSize"), 7 } };
        card.onCloudResut(QNetworkReply::ConnectionRefusedError, QJsonDocument(doc));
        QCOMPARE(busy.count(), 1);
        QVERIFY(!busy.at(0).at(0).toBool());
        QCOMPARE(shownMessages().size(), 1);

        // Nobody has read the message; the next job is followed to its end all the same.
        card.onCloudResut(
            QNetworkReply::NoError, postJob(QStringLiteral("next.txt;10:00:03"), QByteArray("xy")));
        QTRY_COMPARE_WITH_TIMEOUT(todaysRecords().size(), 2, 15000);
        QCOMPARE(todaysRecords().last(), QStringLiteral("next.txt;10:00:03;打印成功;2;10:00:01"));
        QCOMPARE(shownMessages().size(), 1);
        closeShownMessages();
    }

    void fieldsShowTheirWholeText()
    {
        const QString name = QStringLiteral("一二三四五六七八九十");
        QVERIFY(SpoolerFixture::addCloudPrinter(name, 2, QLatin1String(kSerial)));
        DialogWatcher dialogs;
        DriverItem card(cardInfo(name, QLatin1String(kSerial)));
        card.resize(730, card.height());
        card.show();
        QVERIFY(QTest::qWaitForWindowExposed(&card));
        const DriverItemForm &form = card.form();
        QCOMPARE(form.nameEdit->text(), name);
        QCOMPARE(form.serialEdit->text(), QLatin1String(kSerial));
        QVERIFY(showsWhole(form.nameEdit, name));
        QVERIFY(showsWhole(form.serialEdit, QLatin1String(kSerial)));
        QCOMPARE(form.serialEdit->cursorPosition(), 0);
        QCOMPARE(form.serialEdit->toolTip(), QLatin1String(kSerial));
        QCOMPARE(form.nameEdit->toolTip(), name);

        card.onPortTaken(true);
        QCOMPARE(form.stateEdit->text(), QStringLiteral("端口被占用"));
        QVERIFY(showsWhole(form.stateEdit, form.stateEdit->text()));

        // Left to right without overlapping, the refresh button inside the card.
        const QList<QWidget *> row { form.nameCaption, form.nameEdit, form.serialCaption, form.serialEdit,
            form.stateCaption, form.stateEdit, form.refreshButton };
        for (int i = 1; i < row.size(); ++i)
            QVERIFY2(row.at(i - 1)->geometry().right() < row.at(i)->geometry().left(),
                qPrintable(QString::number(i)));
        QVERIFY(form.refreshButton->geometry().right() < form.groupBox->width());
        // The result line lies under the row and above the separator.
        QVERIFY(form.resultLabel->geometry().top() > form.stateEdit->geometry().bottom());
        QVERIFY(form.resultLabel->geometry().bottom() < form.separator->geometry().top());

        // Fits a list that scrolls: the scroll area's room less its bar and the layouts' margins.
        QVERIFY2(
            form.groupBox->minimumWidth() <= 676, qPrintable(QString::number(form.groupBox->minimumWidth())));

        // A long name is edited and saved in a field that still shows it whole; so is a serial of
        // the widest letters.
        card.onModifyClicked();
        QVERIFY(showsWhole(form.nameEdit, name));
        form.serialEdit->setText(QStringLiteral("dddddddddddddddd"));
        card.onModifyClicked();
        QVERIFY(card.isViewMode());
        QVERIFY(showsWhole(form.nameEdit, name));
        QCOMPARE(form.serialEdit->text(), QStringLiteral("DDDDDDDDDDDDDDDD"));
        QVERIFY(showsWhole(form.serialEdit, form.serialEdit->text()));
        QVERIFY(form.refreshButton->geometry().right() < form.groupBox->minimumWidth());
        QVERIFY(dialogs.messages().isEmpty());
    }

    void lastResultLineAndFailureSignal()
    {
        QVERIFY(m_sim.configure({ { QStringLiteral("pendingPolls"), 0 },
            { QStringLiteral("devices"),
                QJsonObject { { QLatin1String(kSerial), QStringLiteral("offline") } } } }));
        DriverItem card(cardInfo());
        QVERIFY(waitForDeviceAnswer(card));
        QSignalSpy failed(&card, &DriverItem::jobFailed);
        QLabel *line = card.form().resultLabel;
        QVERIFY(line->text().isEmpty());

        // A failure is shown in red, and the device's state is asked again at once.
        const int stateQueries = m_sim.adminGet(QStringLiteral("/admin/stats"))
                                     .object()
                                     .value(QStringLiteral("state"))
                                     .toObject()
                                     .value(QStringLiteral("requests"))
                                     .toInt();
        card.onCloudResut(
            QNetworkReply::NoError, postJob(QStringLiteral("会议纪要.pdf;10:00:00"), QByteArray("abc")));
        QVERIFY(failed.wait(15000));
        QCOMPARE(failed.count(), 1);
        QCOMPARE(failed.at(0).at(0).toString(), QStringLiteral("打印失败:设备离线"));
        QCOMPARE(failed.at(0).at(1).toString(), QStringLiteral("会议纪要.pdf"));
        QCOMPARE(line->text(), QStringLiteral("上次打印：打印失败:设备离线  会议纪要.pdf  10:00:01"));
        QCOMPARE(line->palette().color(QPalette::WindowText).name(), QStringLiteral("#d0342c"));
        QVERIFY(waitForDeviceAnswer(card));
        const int stateQueriesAfter = m_sim.adminGet(QStringLiteral("/admin/stats"))
                                          .object()
                                          .value(QStringLiteral("state"))
                                          .toObject()
                                          .value(QStringLiteral("requests"))
                                          .toInt();
        QCOMPARE(stateQueriesAfter, stateQueries + 1);
        QCOMPARE(card.form().stateEdit->text(), QStringLiteral("离线"));

        // A success is shown in green and tells nobody; a long document name is shortened, not cut off.
        QVERIFY(m_sim.configure({ { QStringLiteral("devices"),
            QJsonObject { { QLatin1String(kSerial), QStringLiteral("online") } } } }));
        const QString longName = QString(120, QLatin1Char('x')) + QStringLiteral(".pdf");
        QSignalSpy recorded(&card, &DriverItem::jobRecorded);
        card.onCloudResut(
            QNetworkReply::NoError, postJob(longName + QStringLiteral(";10:00:05"), QByteArray("abc")));
        QVERIFY(recorded.wait(15000));
        QCOMPARE(recorded.at(0).at(0).toString(), QStringLiteral("打印成功"));
        QCOMPARE(failed.count(), 1);
        QVERIFY(line->text().startsWith(QStringLiteral("上次打印：打印成功  ")));
        QVERIFY(line->text().endsWith(QStringLiteral("  10:00:01")));
        QCOMPARE(line->palette().color(QPalette::WindowText).name(), QStringLiteral("#1f8a3b"));
        QVERIFY(line->fontMetrics().horizontalAdvance(line->text()) <= line->width());
        QVERIFY(line->toolTip().contains(longName));
    }

    void deleteAsksOnceAndRemovesOnce()
    {
        DriverItem card(cardInfo());
        QSignalSpy removed(&card, &DriverItem::removeResult);

        // Cancel, the default, keeps the printer.
        QuestionAnswerer cancel(QStringLiteral("取消"));
        cancel.arm();
        card.onDeleteClicked();
        QCOMPARE(cancel.asked, QStringList { QStringLiteral("确定删除打印机 P1？") });
        QCOMPARE(cancel.defaults, QStringList { QStringLiteral("取消") });
        QVERIFY(!card.isRemoving());
        QCOMPARE(removed.count(), 0);

        // A removal that fails may be tried again.
        winsim::failCall("DeletePrinter", 1, ERROR_ACCESS_DENIED);
        QuestionAnswerer yes(QStringLiteral("确定"));
        yes.arm();
        card.onDeleteClicked();
        QVERIFY(removed.wait(10000));
        QVERIFY(!removed.at(0).at(0).toBool());
        QVERIFY(!card.isRemoving());

        // A double click: one question, one removal; later clicks are ignored too.
        yes.arm();
        const int deletesBefore = winsim::callCount("DeletePrinter");
        card.onDeleteClicked();
        card.onDeleteClicked();
        QVERIFY(removed.wait(10000));
        card.onDeleteClicked();
        QCOMPARE(yes.asked.size(), 2);
        QCOMPARE(removed.count(), 2);
        QVERIFY(removed.at(1).at(0).toBool());
        QCOMPARE(winsim::callCount("DeletePrinter"), deletesBefore + 1);
        QVERIFY(SpoolerFixture::cloudSerial(QStringLiteral("P1")).isEmpty());
    }

    void testPageInstallerRunsOffTheWindow()
    {
        const QString started = ProgramFolder::filePath(QStringLiteral("installer.runs"));
        const QString release = ProgramFolder::filePath(QStringLiteral("installer.release"));
        QFile::remove(started);
        QFile::remove(release);
        QVERIFY(ProgramFolder::writeFakeRundll32(
            QStringLiteral("echo run >> '%1'\nwhile [ ! -e '%2' ]; do sleep 0.05; done")
                .arg(started, release)));
        DriverItem card(cardInfo());
        int ticks = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
        ticker.start(10);

        card.onTestClicked();
        QVERIFY(card.form().testSpinner->isAnimated());
        QTRY_VERIFY(QFile::exists(started));
        // The window's own timers keep running while the installer does.
        const int ticksAtStart = ticks;
        QTRY_VERIFY(ticks >= ticksAtStart + 5);
        QVERIFY(card.isPrintingTestPage());
        card.onTestClicked();

        QFile(release).open(QIODevice::WriteOnly);
        QTRY_VERIFY_WITH_TIMEOUT(!card.isPrintingTestPage(), 10000);
        QFile runs(started);
        QVERIFY(runs.open(QIODevice::ReadOnly));
        QCOMPARE(runs.readAll(), QByteArray("run\n"));
        // The spinner turns on until the page's result arrives.
        QVERIFY(card.form().testSpinner->isAnimated());
        QVERIFY(ProgramFolder::remove(QStringLiteral("RUNDLL32")));
    }
};

QTEST_MAIN(TestDriverItem)
#include "tst_driveritem.moc"
