#include "tolmainwindow.h"
#include "ui_tolmainwindow.h"

#include "addprinterthread.h"
#include "clock.h"
#include "cloudserial.h"
#include "courierconstants.h"
#include "cprinter.h"
#include "detailfile.h"
#include "driveritem.h"
#include "driveritemform.h"
#include "errordialog.h"
#include "failurenotifier.h"
#include "logging.h"
#include "outboxjournal.h"
#include "portreportthread.h"
#include "printeroutbox.h"
#include "printerrecordstore.h"
#include "printerserver.h"
#include "programwaits.h"
#include "spoolerbuffer.h"
#include "threadlifetime.h"
#include "waittingdlg.h"
#include "widetext.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QPushButton>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

const char kNavSelected[] = "QPushButton{color:rgb(255,255,255);font-size:14px;"
                            "background-color:rgba(0,138,255,140);border:none;}";
const char kNavNormal[]
    = "QPushButton{color:rgb(255,255,255);font-size:14px;background-color:transparent;border:none;}"
      "QPushButton:hover{background-color:rgba(0,138,255,51);}";
const char kLineEditLook[] = "QLineEdit{font-size:12px;padding-left:15px;background-color:rgb(255,255,255);"
                             "border:1px solid rgb(220,223,230);}";
const char kOkButtonLook[]
    = "QPushButton{font-size:16px;color:rgb(255,255,255);background-color:rgb(10,23,40);"
      "border:none;border-radius:4px;}";
const char kTrayMenuLook[]
    = "QMenu::item:selected{background-color:rgba(82,130,164,1);border:1px solid rgba(82,130,164,1);}";

// A cloud printer of ours: the supported driver on one of the ports we name.
bool isCloudPrinter(const QString &driverName, const QString &portName)
{
    return driverName == QLatin1String(COURIER_DRIVER_NAME) && portName.contains(QLatin1String("REDadez"));
}

} // namespace

TolMainWindow::TolMainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::TolMainWindow)
{
    // The images live in this static library; a program that links it must register them itself.
    Q_INIT_RESOURCE(resources);
    ui->setupUi(this);
    label_ver = ui->label_ver;
    label = ui->label;
    label_name = ui->label_name;
    label_num = ui->label_num;
    lineEdit_num = ui->lineEdit_num;
    lineEdit_name = ui->lineEdit_name;
    pushButton_add = ui->pushButton_add;
    pushButton_manage = ui->pushButton_manage;
    pushButton_ok = ui->pushButton_ok;
    scrollArea = ui->scrollArea;

    setWindowTitle(QString::fromUtf8(COURIER_WINDOW_TITLE));
    setWindowFlags(Qt::FramelessWindowHint);
    setFixedSize(size());

    applyLooks();
    // Group boxes take the presses that reach them, so they would never get to the window:
    // watch them, so that the bar, the pages and their labels all drag the frameless window.
    for (QWidget *area : { static_cast<QWidget *>(ui->groupBox), static_cast<QWidget *>(ui->groupBox_2),
             static_cast<QWidget *>(ui->groupBox_3) })
        area->installEventFilter(this);
    ui->stackedWidget->setCurrentWidget(ui->devlist);

    // The tray comes first: a printer whose port is taken at start-up says so there.
    createTrayIcon();
    loadPrinterList();

    m_cleanupTimerId = startTimer(ProgramWaits::current().housekeepingDelayMs, Qt::CoarseTimer);
    m_logKeepDays = 5;

    m_waitDialog = new WaittingDlg(nullptr);
    m_waitDialog->setWindowModality(Qt::ApplicationModal);
}

TolMainWindow::~TolMainWindow()
{
    delete m_waitDialog;
    delete ui;
}

void TolMainWindow::loadPrinterList()
{
    // One client for every card's device-state queries: a client each would start a thread and
    // connections of its own for every printer.
    m_cardNetwork = new QNetworkAccessManager(this);
    m_listContainer = new QWidget;
    m_listLayout = new QVBoxLayout(m_listContainer);
    m_listContainer->setStyleSheet(DriverItemForm::styleSheet());
    scrollArea->setWidget(m_listContainer);
    scrollArea->setWidgetResizable(true);

    CPrinter printer;
    QList<PRINTER_INFO_2W> printers;
    SpoolerBuffer buffer;
    printer.EnumPrinters(printers, buffer);
    QStringList ports;
    for (const PRINTER_INFO_2W &record : printers) {
        const QString driverName = fromWide(record.pDriverName);
        const QString portName = fromWide(record.pPortName);
        qDebug() << "::" << driverName;
        if (!isCloudPrinter(driverName, portName))
            continue;
        ports.append(portName);

        DriverInfo info;
        info.printer_name = fromWide(record.pPrinterName);
        info.port_name = portName;
        info.driver_name = driverName;
        printer.GetCloudPrinterId(info.printer_name, info.cloud_sn);

        quint16 port = 0;
        if (!printer.GetPrinterPortNum(info.printer_name, port)) {
            qDebug() << QStringLiteral("GetPrinterPortNum name: %1, port: %2 failed")
                            .arg(info.printer_name, QString::number(port));
            continue;
        }
        info.port_num = port;
        // The serial names files and goes to the service; printer data anyone with rights on the
        // printer can change must hold what the form would have let through.
        if (!isCloudSerial(info.cloud_sn.toUpper())) {
            qWarning().noquote() << QStringLiteral("printer %1 skipped: its CloudId is no cloud serial: %2")
                                        .arg(info.printer_name, info.cloud_sn.left(64));
            continue;
        }
        // Made in its place: moved there afterwards, every widget of the card would be styled again.
        auto *card = new DriverItem(info, m_listContainer, m_cardNetwork);
        m_listLayout->addWidget(card);
        startListening(card, new PrinterServer(info, this), info);
    }
    m_listLayout->addStretch(0);
    // What each port is configured as is only logged; asking the port monitor for every printer
    // would keep the window from showing for seconds over many printers.
    m_portReport = new PortReportThread(ports, this);
    m_portReport->start(QThread::LowPriority);

    QStringList listed;
    for (const PrinterServer *server : qAsConst(m_servers))
        listed.append(server->driverInfo().printer_name);
    PrinterOutbox::closeOrphanedJobs(OutboxJournal::instance(), listed);
    qDebug() << "recovered outbox, listening for" << listed.size() << "printers";
}

void TolMainWindow::startListening(DriverItem *card, PrinterServer *server, const DriverInfo &info)
{
    card->setOutbox(server->outbox());
    connect(server, &PrinterServer::cloudResule, card, &DriverItem::onCloudResut);
    connect(card, &DriverItem::driverInfoChanged, server, &PrinterServer::onDriverInfoChanged);
    connect(card, &DriverItem::portBusy, server, &PrinterServer::on_PortBusy);
    connect(card, &DriverItem::jobRecorded, server, &PrinterServer::onJobRecorded);
    connect(server, &PrinterServer::postWaiting, card, &DriverItem::onPostWaiting);
    connect(server, &PrinterServer::portTaken, card, &DriverItem::onPortTaken);
    connect(server, &PrinterServer::portTaken, this,
        [this, server](bool taken) { holdPrinter(server->driverInfo().printer_name, taken); });
    connect(card, &DriverItem::jobFailed, this, [this, card](QString result, QString document) {
        m_notifier->notifyFailure(card->driverInfo().printer_name, result, document);
    });
    connect(card, &DriverItem::removeResult, this, &TolMainWindow::onRemoveResult);
    // The stop handler: a removed printer's listener stops taking the spooler's connections.
    connect(card, &DriverItem::removeResult, server, [this, server](bool ret, QString, DriverInfo removed) {
        if (!ret)
            return;
        m_servers.removeOne(server);
        server->stop();
        qDebug() << removed.printer_name << "stop listening";
    });
    m_servers.append(server);

    server->start();
    // A pause that a run before this one made and could not take back.
    if (!server->isPortTaken())
        holdPrinter(info.printer_name, false);
    server->recover();
}

void TolMainWindow::holdPrinter(const QString &printerName, bool hold)
{
    OutboxJournal *journal = OutboxJournal::instance();
    CPrinter printer;
    if (!hold) {
        if (journal->isPrinterHeld(printerName) && printer.SetPrinterPaused(printerName, false))
            journal->setPrinterHeld(printerName, false);
        return;
    }
    // Paused, the spooler keeps the jobs instead of sending them to whoever holds the port. A pause
    // the user made stays the user's: it is neither recorded as ours nor taken back.
    bool alreadyPaused = false;
    if (!journal->isPrinterHeld(printerName) && printer.SetPrinterPaused(printerName, true, &alreadyPaused)
        && !alreadyPaused)
        journal->setPrinterHeld(printerName, true);
    const QString message
        = QStringLiteral("打印机 %1 的端口被其他程序占用，打印已暂停；端口空出后自动恢复。").arg(printerName);
    m_notifier->showMessage(message, QSystemTrayIcon::Warning);
}

void TolMainWindow::openHistory(const QString &printerName)
{
    for (DriverItem *card :
        m_listContainer->findChildren<DriverItem *>(QString(), Qt::FindDirectChildrenOnly)) {
        if (card->driverInfo().printer_name.compare(printerName, Qt::CaseInsensitive) != 0)
            continue;
        on_showMainAction();
        on_pushButton_manage_clicked();
        card->onStateClicked();
        return;
    }
    qDebug() << "openHistory: no card for" << printerName;
}

void TolMainWindow::timerEvent(QTimerEvent *event)
{
    QMainWindow::timerEvent(event);
    if (event->timerId() != m_cleanupTimerId)
        return;
    LogFileManage(m_logKeepDays);
    DetailFileManage();
    OutboxJournal::instance()->prune(Clock::currentDateTime());
    qDebug() << "删除旧日志";
    killTimer(m_cleanupTimerId);
}

void TolMainWindow::on_pushButton_ok_clicked()
{
    const QString serial = lineEdit_num->text().toUpper();
    if (serial.isEmpty()) {
        ErrorDialog::showMessage(QStringLiteral("请输入云序号!"));
        return;
    }
    qDebug() << serial;
    if (!isCloudSerial(serial)) {
        ErrorDialog::showMessage(QStringLiteral("云序号输入错误!"));
        return;
    }
    const QString name = lineEdit_name->text();
    if (name.isEmpty()) {
        ErrorDialog::showMessage(QStringLiteral("请输入打印机名称!"));
        return;
    }
    // A double quote would break out of its argument in the installer's command line.
    if (name.contains(QLatin1Char('"'))) {
        ErrorDialog::showMessage(QStringLiteral("打印机名无效!"));
        return;
    }

    DriverInfo info;
    info.printer_name = name;
    info.cloud_sn = serial;
    auto *worker = new AddPrinterThread(info, nullptr);
    connect(worker, &AddPrinterThread::addResult, this, &TolMainWindow::on_addPrinterResult);
    deleteWhenEnded(worker);
    worker->start(QThread::InheritPriority);

    const QRect window = geometry();
    const QRect dialog = m_waitDialog->geometry();
    m_waitDialog->move((window.left() + window.right()) / 2 - (dialog.right() - dialog.left()) / 2,
        (window.top() + window.bottom()) / 2 - (dialog.bottom() - dialog.top()) / 2);
    m_waitDialog->startWaiting();
}

void TolMainWindow::on_addPrinterResult(bool ret, QString msg, DriverInfo info)
{
    m_waitDialog->stopWaiting();
    if (!ret) {
        ErrorDialog::showMessage(msg);
        return;
    }
    // Listed, listening and stored before the user is told, so that nothing waits for the click.
    AddValidDriver(info, info.port_num);
    insertPrinterRecord(info);
    ErrorDialog::showMessage(QStringLiteral("添加成功"));
}

void TolMainWindow::AddValidDriver(const DriverInfo &info, quint16 port)
{
    qDebug() << "AddValidDriver " << info.printer_name << port;
    CPrinter printer;
    SpoolerBuffer recordBuffer;
    if (!printer.GetCloudPrinterInfo(info.printer_name, recordBuffer))
        return;
    // The record's texts live in the same buffer as the record.
    const PRINTER_INFO_2W *record = recordBuffer.as<PRINTER_INFO_2W>();
    const QString driverName = fromWide(record->pDriverName);
    const QString portName = fromWide(record->pPortName);
    if (!isCloudPrinter(driverName, portName))
        return;

    DriverInfo listed;
    listed.printer_name = fromWide(record->pPrinterName);
    listed.port_name = portName;
    listed.driver_name = driverName;
    printer.GetCloudPrinterId(listed.printer_name, listed.cloud_sn);
    listed.port_num = port;
    qDebug()
        << QStringLiteral("AddValidDriver driver name: %1, id: %2").arg(listed.printer_name, listed.cloud_sn);

    auto *card = new DriverItem(listed, m_listContainer, m_cardNetwork);
    m_listLayout->insertWidget(0, card);
    startListening(card, new PrinterServer(listed, card), listed);
}

void TolMainWindow::onRemoveResult(bool ret, QString msg, DriverInfo info)
{
    if (!ret) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("错误"), msg, QMessageBox::Close, this);
        box.button(QMessageBox::Close)->setText(QStringLiteral("关闭"));
        box.exec();
        return;
    }
    if (auto *card = qobject_cast<DriverItem *>(sender())) {
        m_listLayout->removeWidget(card);
        card->hide();
        card->deleteLater();
    }
    deletePrinterRecord(info.printer_name);
}

void TolMainWindow::applyLooks()
{
    label_ver->setStyleSheet(
        QStringLiteral("color:rgb(255,255,255);font-size:20px;font-family:\"Microsoft YaHei\";"
                       "background:transparent;"));
    label->setStyleSheet(QStringLiteral("font-size:15px;color:rgb(128,128,128);"));
    label_name->setStyleSheet(QStringLiteral("font-size:18px;"));
    label_num->setStyleSheet(QStringLiteral("font-size:18px;"));
    lineEdit_name->setStyleSheet(QLatin1String(kLineEditLook));
    lineEdit_num->setStyleSheet(QLatin1String(kLineEditLook));
    pushButton_add->setStyleSheet(QLatin1String(kNavNormal));
    pushButton_manage->setStyleSheet(QLatin1String(kNavSelected));
    pushButton_ok->setStyleSheet(QLatin1String(kOkButtonLook));
}

void TolMainWindow::createTrayIcon()
{
    const QIcon trayImage(QStringLiteral(":/printerid/resource/varnIcon.ico"));
    m_trayIcon = new QSystemTrayIcon(this);

    m_showAction = new QAction(trayImage, QStringLiteral("显示主界面"), this);
    connect(m_showAction, &QAction::triggered, this, &TolMainWindow::on_showMainAction);
    m_exitAction
        = new QAction(QIcon(QStringLiteral(":/printerid/resource/close.png")), QStringLiteral("退出"), this);
    connect(m_exitAction, &QAction::triggered, this, &TolMainWindow::on_exitAppAction);

    m_trayMenu = new QMenu(this);
    m_trayMenu->addAction(m_showAction);
    m_trayMenu->addSeparator();
    m_trayMenu->addAction(m_exitAction);
    m_trayMenu->setStyleSheet(QLatin1String(kTrayMenuLook));

    m_trayIcon->setContextMenu(m_trayMenu);
    m_trayIcon->setIcon(trayImage);
    m_trayIcon->setToolTip(QStringLiteral("Zuvezaruvor"));
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &TolMainWindow::on_activatedSysTrayIcon);
    m_trayIcon->show();

    m_notifier = new FailureNotifier(m_trayIcon, this);
    connect(m_notifier, &FailureNotifier::historyRequested, this, &TolMainWindow::openHistory);
}

void TolMainWindow::on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason)
{
    if (reason != QSystemTrayIcon::DoubleClick)
        return;
    showNormal();
    activateWindow();
}

void TolMainWindow::mousePressEvent(QMouseEvent *event)
{
    startDrag(event);
    QMainWindow::mousePressEvent(event);
}

void TolMainWindow::mouseMoveEvent(QMouseEvent *event)
{
    moveWithMouse(event);
    QMainWindow::mouseMoveEvent(event);
}

void TolMainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    moveWithMouse(event);
    QMainWindow::mouseReleaseEvent(event);
}

bool TolMainWindow::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        startDrag(static_cast<QMouseEvent *>(event));
        break;
    case QEvent::MouseMove:
    case QEvent::MouseButtonRelease:
        moveWithMouse(static_cast<QMouseEvent *>(event));
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TolMainWindow::startDrag(QMouseEvent *event)
{
    m_dragOffset = event->globalPos() - pos();
}

void TolMainWindow::moveWithMouse(QMouseEvent *event)
{
    move(event->globalPos() - m_dragOffset);
}

void TolMainWindow::closeEvent(QCloseEvent *event)
{
    // The window has no way to end the program: it goes to the tray, where printing goes on.
    event->ignore();
    hide();
}

void TolMainWindow::on_showMainAction()
{
    showNormal();
    raise();
    activateWindow();
}

void TolMainWindow::on_exitAppAction()
{
    QMessageBox box(QMessageBox::Warning, QStringLiteral("注意"),
        QStringLiteral("关闭后将无法进行云打印，确定关闭？"), QMessageBox::Yes | QMessageBox::Cancel, this);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("确定"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    // Enter must not end cloud printing by accident.
    box.setDefaultButton(QMessageBox::Cancel);
    if (box.exec() != QMessageBox::Yes)
        return;
    m_trayIcon->hide();
    QCoreApplication::exit(0);
}

void TolMainWindow::on_pushButton_manage_clicked()
{
    pushButton_add->setStyleSheet(QLatin1String(kNavNormal));
    pushButton_manage->setStyleSheet(QLatin1String(kNavSelected));
    ui->stackedWidget->setCurrentWidget(ui->devlist);
}

void TolMainWindow::on_pushButton_add_clicked()
{
    pushButton_manage->setStyleSheet(QLatin1String(kNavNormal));
    pushButton_add->setStyleSheet(QLatin1String(kNavSelected));
    ui->stackedWidget->setCurrentWidget(ui->addprinter);
}

void TolMainWindow::on_pushButton_4_clicked()
{
    hide();
}

void TolMainWindow::on_pushButton_Min_clicked()
{
    showMinimized();
}

void TolMainWindow::on_pushButton_clicked()
{
    hide();
}

void TolMainWindow::on_pushButton_2_clicked()
{
    showMinimized();
}
