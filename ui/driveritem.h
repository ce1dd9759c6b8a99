#ifndef DRIVERITEM_H
#define DRIVERITEM_H

#include "cardjob.h"
#include "driverinfo.h"
#include "driveritemform.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QWidget>

class QNetworkAccessManager;
class QTimer;
class PrinterOutbox;
class RemovePrinterThread;
class StateThread;
class TestPageThread;

// The card of one cloud printer: its name, serial and device state, the buttons to change, test,
// inspect and delete it, and the follow-up of each print job to its recorded result.
class DriverItem : public QWidget
{
    Q_OBJECT

public:
    // Device-state queries go through `network` when given, shared by all cards so that many
    // printers make one client with a few connections, not one each; without it the card has its own.
    explicit DriverItem(
        const DriverInfo &info, QWidget *parent = nullptr, QNetworkAccessManager *network = nullptr);

    const DriverInfo &driverInfo() const { return m_info; }
    // The printer's outbox, whose jobs on their way the history shows and whose kept failures it
    // can send again.
    void setOutbox(PrinterOutbox *outbox);
    bool isViewMode() const { return m_viewMode; }
    // The card's widgets, made on first use.
    const DriverItemForm &form() const;
    QTimer *stateTimer() const { return m_stateTimer; }
    QTimer *devStateTimer() const { return m_devStateTimer; }
    bool isQueryInFlight() const { return m_queryInFlight; }
    // While the installer prints the test page, the test button takes no further clicks.
    bool isPrintingTestPage() const;
    // From a confirmed delete until its removal failed, the delete button takes no further clicks.
    bool isRemoving() const { return m_removing; }

signals:
    void driverInfoChanged(DriverInfo info);
    void removeResult(bool ret, QString msg, DriverInfo driverinfo);
    void portBusy(bool isbusy);
    // The current job's record was written with this result.
    void jobRecorded(QString result);
    // A job ended in a failure, already recorded; `document` is the job's document name.
    void jobFailed(QString result, QString document);

public slots:
    void onStateClicked(bool checked = false);
    void onDevStateClicked(bool checked = false);
    void onModifyClicked(bool checked = false);
    void onTestClicked(bool checked = false);
    void onDeleteClicked(bool checked = false);
    void onCloudResut(QNetworkReply::NetworkError error, QJsonDocument jd);
    void onStateResut(QNetworkReply::NetworkError error, QJsonDocument jd);
    void on_StateTimeout();
    void on_DevStateTimeout();
    // The printer's current job waits to be posted again.
    void onPostWaiting(bool waiting);
    // Another program holds the printer's port: the state says so until the listener has it back.
    void onPortTaken(bool taken);

protected:
    void paintEvent(QPaintEvent *event) override;

private slots:
    void devStateReceive(QNetworkReply *reply);
    void ensureBuilt();

private:
    DriverItemForm &ui();
    void postDevState(const char *logText);
    void saveChanges();
    bool changeSerial(const QString &serial);
    bool changeName(const QString &name);
    bool confirmDelete();
    void startRemoval();
    // Ends a job: records it, frees the port, and only then tells the user.
    void endJob(
        const CardJob &job, const QString &result, const QString &handledAt, const QString &dialogText);
    void endFollowedJob(const QString &result, const QString &handledAt, const QString &dialogText);
    void stopFollowing();
    void dropStateThread();
    void tellOutcome(
        const CardJob &job, const QString &result, const QString &handledAt, const QString &dialogText);

    DriverInfo m_info;
    bool m_viewMode = true;
    QPointer<RemovePrinterThread> m_removeThread;
    QPointer<PrinterOutbox> m_outbox;
    QPointer<TestPageThread> m_testPageThread;
    bool m_removing = false;
    // The job `m_stateThread` follows: it and its poller come and go together.
    CardJob m_followedJob;
    // What the state field shows: a taken port before a waiting post before the device's state.
    void showDeviceState(const QString &text);
    void refreshStateText();
    QString m_deviceState;
    bool m_postWaiting = false;
    bool m_portTaken = false;
    // Since the current job's result has been followed.
    QElapsedTimer m_followStarted;
    bool m_queryInFlight = false;
    // When the outstanding result query was sent.
    QElapsedTimer m_queryStarted;
    DriverItemForm m_form;
    bool m_buildQueued = false;
    // The last job's outcome, shown once the card is built.
    struct LastResult
    {
        QString result;
        QString document;
        QString handledAt;
    };
    LastResult m_lastResult;
    QPointer<StateThread> m_stateThread;
    QTimer *m_stateTimer = nullptr;
    QTimer *m_devStateTimer = nullptr;
    QNetworkAccessManager *m_manager = nullptr;
    QNetworkRequest m_devStateRequest;
};

#endif // DRIVERITEM_H
