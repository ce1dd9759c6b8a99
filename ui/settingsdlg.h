#ifndef SETTINGSDLG_H
#define SETTINGSDLG_H

#include "detailfilereader.h"
#include "jobtablerow.h"

#include <QDate>
#include <QDialog>
#include <QList>
#include <QPointer>

class PrinterOutbox;
class QGroupBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;
class QTimer;

// The jobs of one cloud printer on one day: the finished ones from its detail file, then, for
// today, those still queued in the spooler. Refreshed every second while open; a switch in the
// title bar shows yesterday's file instead, so jobs of the evening stay visible after midnight.
class SettingsDlg : public QDialog
{
    Q_OBJECT

public:
    SettingsDlg(const QString &printerName, const QString &cloudSn, QWidget *parent = nullptr);

    // The printer's outbox: its jobs on their way show between the history and the spooler's queue,
    // and its kept failures can be sent again from their rows.
    void setOutbox(PrinterOutbox *outbox);

    QTableWidget *table() const { return m_table; }
    QPushButton *todayButton() const { return m_todayButton; }
    QPushButton *yesterdayButton() const { return m_yesterdayButton; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onXClicked();
    void on_Timeout();
    void slotItemEnter(QTableWidgetItem *item);
    void onDaySwitched();
    void onResendClicked(qint64 jobId);

private:
    QList<JobTableRow> spoolerJobRows(const QList<JobTableRow> &inFlight) const;
    QList<JobTableRow> inFlightRows() const;
    void refreshRows();
    void markResendable();
    void writeAction(int row, const JobTableRow &values);
    void setupTable(QWidget *panel);
    void setupTitleBar(QWidget *panel);
    void setupDaySwitch();
    bool showsToday() const;
    QDate shownDay() const;
    void readNewHistory();
    void showRows(const QList<JobTableRow> &tail);
    void writeRow(int row, const JobTableRow &values);
    void setCell(int row, int column, const QString &text, const QString &toolTip = QString());
    QString cellToolTip(const QTableWidgetItem *item) const;
    void showCellToolTip(const QTableWidgetItem *item, const QPoint &globalPos);

    QPointer<PrinterOutbox> m_outbox;
    QTimer *m_timer = nullptr;
    QString m_printerName;
    QString m_cloudSn;
    DetailFileReader m_reader;
    // The finished jobs of the day shown, oldest first; they fill the table's first rows.
    QList<JobTableRow> m_history;
    // How many of them are on the table already: a refresh writes only those after.
    int m_historyShown = 0;
    QTableWidget *m_table = nullptr;
    QGroupBox *m_titleBar = nullptr;
    QPushButton *m_closeButton = nullptr;
    QLabel *m_title = nullptr;
    QPushButton *m_todayButton = nullptr;
    QPushButton *m_yesterdayButton = nullptr;
};

#endif // SETTINGSDLG_H
