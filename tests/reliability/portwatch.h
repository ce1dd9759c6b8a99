#ifndef PORTWATCH_H
#define PORTWATCH_H

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>

class DriverItem;
class PrinterOutbox;
class PrinterServer;
class QNetworkAccessManager;

// Follows one printer's port as its listener sees it: busy from the moment its outbox takes up a
// job until the card reports the job's end. Measures how long the port stayed busy after the program had the
// job's final answer (the result's arrival in the GUI thread, from the receiver or from the network
// layer, or the poll tick that finds a query unanswered for too long), and how long the next job
// was held back once the port was free.
class PortWatch : public QObject
{
    Q_OBJECT
public:
    PortWatch(PrinterServer *server, DriverItem *card, QObject *parent = nullptr);
    ~PortWatch() override;

    bool isBusy() const { return m_busy; }
    int receiversStarted() const { return m_started; }
    int jobsEnded() const { return m_ended; }
    qint64 longestBusyAfterOutcomeMs() const { return m_longestBusyAfterOutcome; }
    qint64 longestHoldBackMs() const { return m_longestHoldBack; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void onServerBusy(bool busy);
    void onCardBusy(bool busy);

    QPointer<DriverItem> m_card;
    QPointer<PrinterOutbox> m_outbox;
    QPointer<QNetworkAccessManager> m_deviceManager;
    QElapsedTimer m_clock;
    bool m_busy = false;
    int m_started = 0;
    int m_ended = 0;
    qint64 m_lastAnswerAt = -1;
    qint64 m_freedAt = -1;
    qint64 m_longestBusyAfterOutcome = 0;
    qint64 m_longestHoldBack = 0;
};

#endif // PORTWATCH_H
