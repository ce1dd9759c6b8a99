#include "listenerlink.h"

#include "printerserver.h"

ListenerLink::ListenerLink(PrinterServer *server)
    : m_server(server)
{
}

void ListenerLink::deliver(QNetworkReply::NetworkError error, const QJsonDocument &jd)
{
    // The listener's destructor waits on this lock, so it cannot be torn down mid-emission. The card
    // takes the signal queued, so the emission is quick and never waits for the GUI thread.
    std::lock_guard<std::mutex> locker(m_serverLock);
    if (m_server)
        emit m_server->cloudResule(error, jd);
}

void ListenerLink::detach()
{
    std::lock_guard<std::mutex> locker(m_serverLock);
    m_server = nullptr;
}
