#ifndef SETTINGSDLG_H
#define SETTINGSDLG_H

#include <QDialog>
#include <QStringList>

class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

// Today's jobs of one cloud printer: the finished ones from its detail file, then those still
// queued in the spooler. Refreshed every second while open.
class SettingsDlg : public QDialog
{
    Q_OBJECT

public:
    SettingsDlg(const QString &printerName, const QString &cloudSn, QWidget *parent = nullptr);

    QTableWidget *table() const { return m_table; }

private slots:
    void onXClicked();
    void on_Timeout();
    void slotItemEnter(QTableWidgetItem *item);

private:
    QList<QStringList> spoolerJobRows() const;
    void setupTable(QWidget *panel);
    void setupTitleBar(QWidget *panel);
    void fillHistoryRow(int row, const QStringList &fields);
    void fillQueuedRow(int row, const QStringList &job);
    void setCell(int row, int column, const QString &text);

    QTimer *m_timer = nullptr;
    QString m_printerName;
    QString m_cloudSn;
    int m_historyRows = 0;
    qint64 m_lastFileSize = 0;
    int m_totalRows = 0;
    QTableWidget *m_table = nullptr;
    QGroupBox *m_titleBar = nullptr;
    QPushButton *m_closeButton = nullptr;
    QLabel *m_title = nullptr;
};

#endif // SETTINGSDLG_H
