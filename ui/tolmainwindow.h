#ifndef TOLMAINWINDOW_H
#define TOLMAINWINDOW_H

#include "driverinfo.h"

#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QSystemTrayIcon>

class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class DriverItem;
class FailureNotifier;
class PortReportThread;
class QNetworkAccessManager;
class PrinterServer;
class WaittingDlg;

namespace Ui {
class TolMainWindow;
}

// The program's one window: a frameless page pair (printer list, add form) beside a black
// navigation bar, and the tray icon through which the program is shown again and ended.
class TolMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit TolMainWindow(QWidget *parent = nullptr);
    ~TolMainWindow() override;

protected:
    void timerEvent(QTimerEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_activatedSysTrayIcon(QSystemTrayIcon::ActivationReason reason);
    void on_showMainAction();
    void on_exitAppAction();
    void on_addPrinterResult(bool ret, QString msg, DriverInfo info);
    void onRemoveResult(bool ret, QString msg, DriverInfo info);
    void on_pushButton_manage_clicked();
    void on_pushButton_ok_clicked();
    void on_pushButton_4_clicked();
    void on_pushButton_Min_clicked();
    void on_pushButton_add_clicked();
    void on_pushButton_clicked();
    void on_pushButton_2_clicked();

private:
    void applyLooks();
    void createTrayIcon();
    void startDrag(QMouseEvent *event);
    void moveWithMouse(QMouseEvent *event);
    void loadPrinterList();
    void AddValidDriver(const DriverInfo &info, quint16 port);
    void startListening(DriverItem *card, PrinterServer *server, const DriverInfo &info);
    // Pauses the printer while another program holds its port, and resumes it when that is over.
    void holdPrinter(const QString &printerName, bool hold);
    // Shows the window and the job history of the printer of that name, if it is still listed.
    void openHistory(const QString &printerName);

    QPoint m_dragOffset;
    QLabel *label_ver = nullptr;
    QLabel *label = nullptr;
    QLabel *label_name = nullptr;
    QLabel *label_num = nullptr;
    QLineEdit *lineEdit_num = nullptr;
    QLineEdit *lineEdit_name = nullptr;
    QPushButton *pushButton_add = nullptr;
    QPushButton *pushButton_manage = nullptr;
    QPushButton *pushButton_ok = nullptr;
    QScrollArea *scrollArea = nullptr;
    QSystemTrayIcon *m_trayIcon = nullptr;
    FailureNotifier *m_notifier = nullptr;
    QNetworkAccessManager *m_cardNetwork = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_showAction = nullptr;
    QAction *m_exitAction = nullptr;
    Ui::TolMainWindow *ui = nullptr;
    QList<PrinterServer *> m_servers;
    int m_cleanupTimerId = 0;
    int m_logKeepDays = 5;
    QWidget *m_listContainer = nullptr;
    QVBoxLayout *m_listLayout = nullptr;
    WaittingDlg *m_waitDialog = nullptr;
    PortReportThread *m_portReport = nullptr;
};

#endif // TOLMAINWINDOW_H
