#ifndef SETTINGSDLG_H
#define SETTINGSDLG_H

#include "detailfilereader.h"
#include "jobtablerow.h"

#include <QDate>
#include <QDialog>
#include <QList>
#include <QPointer>

class JobTableModel;
class PrinterOutbox;
class QGroupBox;
class QLabel;
class QModelIndex;
class QPushButton;
class QTableView;
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

    QTableView *table() const { return m_table; }
    JobTableModel *model() const { return m_model; }
    QPushButton *todayButton() const { return m_todayButton; }
    QPushButton *yesterdayButton() const { return m_yesterdayButton; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void onXClicked();
    void on_Timeout();
    void slotItemEnter(const QModelIndex &index);
    void onDaySwitched();
    void onResendClicked(qint64 jobId);

private:
    QList<JobTableRow> spoolerJobRows(const QList<JobTableRow> &inFlight) const;
    QList<JobTableRow> inFlightRows() const;
    // The rows after the history, and the marks of the history's kept failures, as they are now;
    // the table scrolls to its end when it has more rows than rowsBefore.
    void refreshRows(int rowsBefore);
    void markResendable();
    void writeAction(int row);
    void setupTable(QWidget *panel);
    void setupTitleBar(QWidget *panel);
    void setupDaySwitch();
    bool showsToday() const;
    QDate shownDay() const;
    void readNewHistory();
    QString cellToolTip(const QModelIndex &index) const;
    void showCellToolTip(const QModelIndex &index, const QPoint &globalPos);

    QPointer<PrinterOutbox> m_outbox;
    QTimer *m_timer = nullptr;
    QString m_printerName;
    QString m_cloudSn;
    DetailFileReader m_reader;
    JobTableModel *m_model = nullptr;
    QTableView *m_table = nullptr;
    QGroupBox *m_titleBar = nullptr;
    QPushButton *m_closeButton = nullptr;
    QLabel *m_title = nullptr;
    QPushButton *m_todayButton = nullptr;
    QPushButton *m_yesterdayButton = nullptr;
};

#endif // SETTINGSDLG_H
