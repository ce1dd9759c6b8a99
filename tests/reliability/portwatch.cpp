#include "portwatch.h"

#include "driveritem.h"
#include "printeroutbox.h"
#include "printerserver.h"

#include <QCoreApplication>
#include <QEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QTimer>

PortWatch::PortWatch(PrinterServer *server, DriverItem *card, QObject *parent)
    : QObject(parent)
    , m_card(card)
    , m_outbox(server->outbox())
    , m_deviceManager(card->findChild<QNetworkAccessManager *>(QString(), Qt::FindDirectChildrenOnly))
{
    m_clock.start();
    // The server's own signal says when its outbox takes up a job; the card's says busy or free
    // after that. Between them they are every change of the listener's busy flag.
    connect(server, &PrinterServer::portBusy, this, &PortWatch::onServerBusy, Qt::DirectConnection);
    connect(card, &DriverItem::portBusy, this, &PortWatch::onCardBusy, Qt::DirectConnection);
    QCoreApplication::instance()->installEventFilter(this);
}

PortWatch::~PortWatch()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool PortWatch::eventFilter(QObject *watched, QEvent *event)
{
    // Answers reach the GUI thread as queued calls: a post's result to the outbox, a finished
    // exchange to its network reply. The card's own device-state exchanges are no job's answer.
    // The card's poll tick is when it notices a result query left unanswered for too long.
    if (event->type() == QEvent::Timer && m_card && watched == static_cast<QObject *>(m_card->stateTimer()))
        m_lastAnswerAt = m_clock.elapsed();
    if (event->type() == QEvent::MetaCall) {
        if (watched == m_card || (m_outbox && watched == static_cast<QObject *>(m_outbox))) {
            m_lastAnswerAt = m_clock.elapsed();
        } else if (auto *reply = qobject_cast<QNetworkReply *>(watched)) {
            if (reply->manager() != m_deviceManager)
                m_lastAnswerAt = m_clock.elapsed();
        }
    }
    return QObject::eventFilter(watched, event);
}

void PortWatch::onServerBusy(bool busy)
{
    if (!busy)
        return;
    ++m_started;
    if (!m_busy && m_freedAt >= 0)
        m_longestHoldBack = qMax(m_longestHoldBack, m_clock.elapsed() - m_freedAt);
    m_busy = true;
    m_freedAt = -1;
}

void PortWatch::onCardBusy(bool busy)
{
    if (busy) {
        m_busy = true;
        return;
    }
    ++m_ended;
    const qint64 now = m_clock.elapsed();
    if (m_lastAnswerAt >= 0)
        m_longestBusyAfterOutcome = qMax(m_longestBusyAfterOutcome, now - m_lastAnswerAt);
    m_busy = false;
    m_freedAt = now;
}
