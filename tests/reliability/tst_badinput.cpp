#include "cloudsimprocess.h"
#include "cprinter.h"
#include "dialogwatcher.h"
#include "driveritem.h"
#include "figures.h"
#include "liveobjects.h"
#include "printerrecordstore.h"
#include "printerserver.h"
#include "programstate.h"
#include "rawservice.h"
#include "reliabilityrig.h"
#include "spoolerfixture.h"
#include "testtiming.h"
#include "tolmainwindow.h"
#include "widetext.h"
#include "winsim/winsimcontrol.h"

#include <QFile>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

// What a user may type into the add form and into a card, and what may come back from the
// device-state query: every input either does what it says, stored exactly as typed wherever it is
// kept, or is refused with the program's own message and stores nothing.
namespace {

const char kSerial[] = "0123456789ABCDEF";

QStringList spoolerPorts()
{
    QStringList names;
    QList<PORT_INFO_2W> ports;
    SpoolerBuffer buffer;
    CPrinter().EnumPorts(ports, buffer);
    for (const PORT_INFO_2W &port : ports)
        names << fromWide(port.pPortName);
    return names;
}

// The printer a card case starts from, in the spooler and in task.db.
bool installCardPrinter(DriverInfo *info)
{
    info->printer_name = QStringLiteral("Card");
    info->cloud_sn = QLatin1String(kSerial);
    info->port_name = QStringLiteral("REDadez901");
    info->port_num = Rig::portOfIndex(Rig::kFirstIndex);
    return SpoolerFixture::addCloudPrinter(info->printer_name, Rig::kFirstIndex, info->cloud_sn)
        && insertPrinterRecord(*info);
}

// Text as it shows in a report: control characters named.
QString shown(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() < 0x20)
            out += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else if (c == QLatin1Char('|'))
            out += QStringLiteral("\\|");
        else
            out += c;
    }
    return out.isEmpty() ? QStringLiteral("(empty)") : out;
}

QStringList wrongSerials()
{
    return { QString(), QStringLiteral("0123456789ABCDE"), QStringLiteral("0123456789ABCDEG"),
        QStringLiteral("0123 456789ABCDE"), QStringLiteral("０１２３４５６７８９ＡＢＣＤＥＦ"),
        QStringLiteral("٠١٢٣٤٥٦٧٨٩ABCDEF"), QStringLiteral("0x23456789ABCDEF"),
        QStringLiteral("0123456789ABCDEß"), QStringLiteral("0123456789ABCD\tF"),
        QStringLiteral("'; drop table--"), QStringLiteral("%1%2%3%4%5%6%7%8") };
}

QStringList names()
{
    return { QStringLiteral("O'Brien"), QStringLiteral("%2%1"), QStringLiteral("x');drop table driver;--"),
        QStringLiteral("Tab\there"), QStringLiteral("bell\x07"), QStringLiteral("a\\b"),
        QStringLiteral("a,b"), QStringLiteral("一二三四五六七八九十"),
        QStringLiteral("一二三四五六七八九十一"), QStringLiteral("😀😀😀😀😀"), QStringLiteral("   "),
        QStringLiteral("a\"b") };
}

} // namespace

class TestBadInput : public QObject
{
    Q_OBJECT

private:
    LiveObjects m_live;
    CloudSimProcess m_sim;
    RawService m_raw;
    Figures m_figures;
    QStringList m_formLines;
    QStringList m_cardLines;
    QStringList m_deviceLines;

    void addRow(const QString &tried, const QStringList &lines)
    {
        Figures::Row row;
        row.tried = tried;
        row.outcome = lines.join(QStringLiteral("; "));
        Rig::addRow(m_figures, row);
    }

    // Types into the form as a user would: the fields keep at most their own number of characters.
    static QString typeInto(QLineEdit *field, const QString &text)
    {
        field->clear();
        field->insert(text);
        return field->text();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(Rig::startSuite(m_sim));
        QVERIFY(m_raw.listen());
    }

    void init()
    {
        QVERIFY(Rig::freshCase(m_sim));
        m_raw.clear();
        QFile::remove(QStringLiteral("task.db"));
    }

    void cleanup() { Rig::nothingLeftBehind(); }

    void cleanupTestCase()
    {
        Rig::endSuite();
        addRow(QStringLiteral("add form: serials of every wrong shape"),
            m_formLines.filter(QStringLiteral("serial ")));
        addRow(QStringLiteral("add form: names"), m_formLines.filter(QStringLiteral("name ")));
        addRow(QStringLiteral("printer card: serials and names"), m_cardLines);
        addRow(QStringLiteral("device-state answers"), m_deviceLines);
        QVERIFY(m_figures.write(QStringLiteral("50-badinput"), QStringLiteral("Bad input")));
    }

    void formSerials_data();
    void formSerials();
    void formNames_data();
    void formNames();
    void cardSerials_data();
    void cardSerials();
    void cardNames_data();
    void cardNames();
    void deviceStateReplies_data();
    void deviceStateReplies();
};

void TestBadInput::formSerials_data()
{
    QTest::addColumn<QString>("serial");
    for (const QString &serial : wrongSerials())
        QTest::newRow(qPrintable(shown(serial))) << serial;
}

// A serial that is not 16 hex digits goes nowhere: no installer, no port, no printer, no row.
void TestBadInput::formSerials()
{
    QFETCH(QString, serial);
    TolMainWindow window;
    const QString typed = typeInto(window.findChild<QLineEdit *>(QStringLiteral("lineEdit_num")), serial);
    typeInto(window.findChild<QLineEdit *>(QStringLiteral("lineEdit_name")), QStringLiteral("Printer"));
    DialogWatcher dialogs;
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_ok")), Qt::LeftButton);
    const QString expected
        = typed.isEmpty() ? QStringLiteral("请输入云序号!") : QStringLiteral("云序号输入错误!");
    QCOMPARE(dialogs.messages(), QStringList { expected });
    QVERIFY(winsim::rundllCommandLines().empty());
    QCOMPARE(winsim::callCount("XcvDataW"), 0);
    QVERIFY(Rig::spoolerPrinters().isEmpty());
    QCOMPARE(spoolerPorts(), (QStringList { QStringLiteral("LPT1:"), QStringLiteral("FILE:") }));
    QVERIFY(!QFile::exists(QStringLiteral("task.db")));
    QVERIFY(Rig::cards(window).isEmpty());
    m_formLines << QStringLiteral("serial %1: %2").arg(shown(serial), expected);
}

void TestBadInput::formNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("(empty)") << QString() << QStringLiteral("请输入打印机名称!");
    for (const QString &name : names()) {
        const QString message = name.contains(QLatin1Char('"')) ? QStringLiteral("打印机名无效!") : QString();
        QTest::newRow(qPrintable(shown(name))) << name << message;
    }
}

// A name is either taken exactly as typed (after the field's own 10-character limit) by the
// spooler, the card, the listener and task.db, or refused with one of the program's messages with
// nothing stored.
void TestBadInput::formNames()
{
    QFETCH(QString, name);
    QFETCH(QString, message);
    TolMainWindow window;
    typeInto(window.findChild<QLineEdit *>(QStringLiteral("lineEdit_num")), QLatin1String(kSerial));
    const QString typed = typeInto(window.findChild<QLineEdit *>(QStringLiteral("lineEdit_name")), name);
    QVERIFY(typed.size() <= 10);
    DialogWatcher dialogs(QStringLiteral("确定"));
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("pushButton_ok")), Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return !dialogs.messages().isEmpty(); }, 60000));
    QCoreApplication::processEvents();
    const QString shownMessage = dialogs.messages().join(QLatin1Char('|'));
    if (!message.isEmpty())
        QCOMPARE(shownMessage, message);

    if (shownMessage == QStringLiteral("添加成功")) {
        QCOMPARE(Rig::spoolerPrinters(), QStringList { typed });
        QCOMPARE(SpoolerFixture::cloudSerial(typed), QLatin1String(kSerial));
        QCOMPARE(ProgramState::storedRows(),
            QStringList { QStringLiteral("%1|%2|8101").arg(typed, QLatin1String(kSerial)) });
        const QList<DriverItem *> cards = Rig::cards(window);
        QCOMPARE(cards.size(), 1);
        QCOMPARE(cards.first()->driverInfo().printer_name, typed);
        QCOMPARE(cards.first()->form().nameEdit->text(), typed);
        QVERIFY(Rig::serverFor(window, cards.first()));
    } else {
        QVERIFY2(
            message == shownMessage || Rig::addMessages().contains(shownMessage), qPrintable(shownMessage));
        QVERIFY(ProgramState::storedRows().isEmpty());
        QVERIFY(Rig::cards(window).isEmpty());
        // The worker leaves what it made before the failure (the port, perhaps the printer); it
        // never leaves a printer marked with the serial.
        for (const QString &printer : Rig::spoolerPrinters())
            QCOMPARE(SpoolerFixture::cloudSerial(printer), QString());
    }
    m_formLines << QStringLiteral("name %1: %2").arg(shown(name), shownMessage);
}

void TestBadInput::cardSerials_data()
{
    formSerials_data();
}

// A card refuses a wrong serial and changes nothing: spooler, task.db and the card keep the old one.
void TestBadInput::cardSerials()
{
    QFETCH(QString, serial);
    DriverInfo info;
    QVERIFY(installCardPrinter(&info));
    DriverItem card(info);
    QSignalSpy changed(&card, &DriverItem::driverInfoChanged);
    card.onModifyClicked();
    const QString typed = typeInto(card.form().serialEdit, serial);
    DialogWatcher dialogs;
    card.onModifyClicked();
    const QString expected
        = typed.isEmpty() ? QStringLiteral("请输入云序号!") : QStringLiteral("云序号输入错误!");
    QCOMPARE(dialogs.messages(), QStringList { expected });
    QVERIFY(!card.isViewMode());
    QCOMPARE(changed.count(), 0);
    QCOMPARE(card.driverInfo().cloud_sn, QLatin1String(kSerial));
    QCOMPARE(SpoolerFixture::cloudSerial(QStringLiteral("Card")), QLatin1String(kSerial));
    QCOMPARE(ProgramState::storedRows(),
        QStringList { QStringLiteral("Card|%1|9001").arg(QLatin1String(kSerial)) });
    m_cardLines << QStringLiteral("serial %1: %2").arg(shown(serial), expected);
}

void TestBadInput::cardNames_data()
{
    QTest::addColumn<QString>("name");
    for (const QString &name : names())
        QTest::newRow(qPrintable(shown(name))) << name;
}

// A new name on the card: the card, the listener's record, the spooler and task.db all take it
// exactly, or none does and the card says why.
void TestBadInput::cardNames()
{
    QFETCH(QString, name);
    DriverInfo info;
    QVERIFY(installCardPrinter(&info));
    DriverItem card(info);
    PrinterServer server(info);
    connect(&card, &DriverItem::driverInfoChanged, &server, &PrinterServer::onDriverInfoChanged);
    QSignalSpy changed(&card, &DriverItem::driverInfoChanged);
    card.onModifyClicked();
    const QString typed = typeInto(card.form().nameEdit, name);
    DialogWatcher dialogs;
    card.onModifyClicked();
    const QString message = dialogs.messages().join(QLatin1Char('|'));
    if (message.isEmpty()) {
        QVERIFY(card.isViewMode());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(changed.at(0).at(0).value<DriverInfo>().printer_name, typed);
        QCOMPARE(card.driverInfo().printer_name, typed);
        QCOMPARE(Rig::spoolerPrinters(), QStringList { typed });
        QCOMPARE(SpoolerFixture::cloudSerial(typed), QLatin1String(kSerial));
        QCOMPARE(ProgramState::storedRows(),
            QStringList { QStringLiteral("%1|%2|9001").arg(typed, QLatin1String(kSerial)) });
    } else {
        QVERIFY2(message == QStringLiteral("打印机名无效!") || message == QStringLiteral("修改打印机名失败!"),
            qPrintable(message));
        QVERIFY(!card.isViewMode());
        QCOMPARE(changed.count(), 0);
        QCOMPARE(Rig::spoolerPrinters(), QStringList { QStringLiteral("Card") });
        QCOMPARE(ProgramState::storedRows(),
            QStringList { QStringLiteral("Card|%1|9001").arg(QLatin1String(kSerial)) });
    }
    m_cardLines << QStringLiteral("name %1: %2")
                       .arg(shown(name), message.isEmpty() ? QStringLiteral("renamed") : message);
}

void TestBadInput::deviceStateReplies_data()
{
    QTest::addColumn<int>("answer");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("shownState");
    QTest::addColumn<int>("period");
    const int custom = int(RawService::Answer::Custom);
    QTest::newRow("online") << custom << QByteArray(R"({"code":0,"msg":"success","data":"1"})")
                            << QStringLiteral("在线") << 300000;
    QTest::newRow("offline, data 17")
        << custom << QByteArray(R"({"code":0,"data":"17"})") << QStringLiteral("离线") << 10000;
    QTest::newRow("code 1001") << custom << QByteArray(R"({"code":1001,"msg":"设备不存在"})")
                               << QStringLiteral("离线") << 10000;
    QTest::newRow("code 4002 beside data 1")
        << custom << QByteArray(R"({"code":4002,"data":"1"})") << QStringLiteral("离线") << 10000;
    QTest::newRow("code 1001.0") << custom << QByteArray(R"({"code":1001.0})") << QStringLiteral("离线")
                                 << 10000;
    QTest::newRow("code 2 states nothing")
        << custom << QByteArray(R"({"code":2,"data":"1"})") << QString() << 5000;
    QTest::newRow("code -1 states nothing") << custom << QByteArray(R"({"code":-1})") << QString() << 5000;
    QTest::newRow("an HTML page") << custom << QByteArray("<html><body>502 Bad Gateway</body></html>")
                                  << QString() << 5000;
    QTest::newRow("[]") << custom << QByteArray("[]") << QString() << 5000;
    QTest::newRow("null") << custom << QByteArray("null") << QString() << 5000;
    QTest::newRow("a bare string") << custom << QByteArray(R"("在线")") << QString() << 5000;
    QTest::newRow("an empty body") << custom << QByteArray() << QString() << 5000;
    QTest::newRow("several MiB of JSON, online")
        << int(RawService::Answer::HugeJson) << QByteArray() << QStringLiteral("在线") << 300000;
    QTest::newRow("several MiB, not JSON")
        << int(RawService::Answer::HugeGarbage) << QByteArray() << QString() << 5000;
    QTest::newRow("reset mid-answer")
        << int(RawService::Answer::ResetMidway) << QByteArray() << QStringLiteral("--") << 5000;
}

// Whatever the device-state query brings back, the card shows one of its states, or nothing new,
// and keeps polling at the period that state calls for.
void TestBadInput::deviceStateReplies()
{
    QFETCH(int, answer);
    QFETCH(QByteArray, body);
    QFETCH(QString, shownState);
    QFETCH(int, period);
    Rig::useService(m_raw.base());
    m_raw.setStateAnswer(RawService::Answer(answer));
    m_raw.setCustomBody(body);
    DriverInfo info;
    info.printer_name = QStringLiteral("State");
    info.cloud_sn = QLatin1String(kSerial);
    info.port_num = 8101;
    DriverItem card(info);
    auto *manager = card.findChild<QNetworkAccessManager *>(QString(), Qt::FindDirectChildrenOnly);
    QVERIFY(manager);
    QSignalSpy finished(manager, &QNetworkAccessManager::finished);
    QVERIFY(finished.count() > 0 || finished.wait(TestTiming::scaled(20000)));
    QCoreApplication::processEvents();
    QCOMPARE(card.form().stateEdit->text(), shownState);
    QCOMPARE(card.devStateTimer()->interval(), period);
    QVERIFY(card.devStateTimer()->isActive());
    QVERIFY(m_raw.requests("/v1.1/getNumberStatu") >= 1);
    m_deviceLines << QStringLiteral("%1: %2").arg(QString::fromLatin1(QTest::currentDataTag()),
        shownState.isEmpty() ? QStringLiteral("unchanged") : shownState);
}

QTEST_MAIN(TestBadInput)
#include "tst_badinput.moc"
