#include "tolmainwindow.h"
#include "ui_tolmainwindow.h"

#include "courierconstants.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>

namespace {

const char kNavSelected[] =
    "QPushButton{color:rgb(255,255,255);font-size:14px;"
    "background-color:rgba(0,138,255,140);border:none;}";
const char kNavNormal[] =
    "QPushButton{color:rgb(255,255,255);font-size:14px;background-color:transparent;border:none;}"
    "QPushButton:hover{background-color:rgba(0,138,255,51);}";
const char kLineEditLook[] =
    "QLineEdit{font-size:12px;padding-left:15px;background-color:rgb(255,255,255);"
    "border:1px solid rgb(220,223,230);}";
const char kOkButtonLook[] =
    "QPushButton{font-size:16px;color:rgb(255,255,255);background-color:rgb(10,23,40);"
    "border:none;border-radius:4px;}";
const char kTrayMenuLook[] =
    "QMenu::item:selected{background-color:rgba(82,130,164,1);border:1px solid rgba(82,130,164,1);}";

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
    for (QWidget *area : {static_cast<QWidget *>(ui->groupBox), static_cast<QWidget *>(ui->groupBox_2),
                          static_cast<QWidget *>(ui->groupBox_3)})
        area->installEventFilter(this);
    ui->stackedWidget->setCurrentWidget(ui->devlist);

    // Step 5, the printer list, is assembled here once the cards and listeners exist.

    createTrayIcon();

    // Steps 7 and 8, the housekeeping timer and the busy dialog, follow the tray icon.
}

TolMainWindow::~TolMainWindow()
{
    delete ui;
}

void TolMainWindow::applyLooks()
{
    label_ver->setStyleSheet(QStringLiteral(
        "color:rgb(255,255,255);font-size:20px;font-family:\"Microsoft YaHei\";"
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
    m_exitAction = new QAction(QIcon(QStringLiteral(":/printerid/resource/close.png")),
                               QStringLiteral("退出"), this);
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
                    QStringLiteral("关闭后将无法进行云打印，确定关闭？"),
                    QMessageBox::Yes | QMessageBox::Cancel, this);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("确定"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
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
