#ifndef LISTENERLINK_H
#define LISTENERLINK_H

#include <QJsonDocument>
#include <QMutex>
#include <QNetworkReply>

#include <mutex>

class PrinterServer;

// What a listener shares with the receivers it starts. A receiver can outlive its listener: the
// printer is deleted while one of its jobs is being posted, and the listener of an added printer goes
// with its card. So the lock that serialises the printer's posts, and the way back to the listener,
// live here, owned jointly (std::shared_ptr) by the listener and every receiver it started.
class ListenerLink
{
public:
    explicit ListenerLink(PrinterServer *server);
    ListenerLink(const ListenerLink &) = delete;
    ListenerLink &operator=(const ListenerLink &) = delete;

    // Held by a receiver from the start of its post until the post's result has been passed on.
    QMutex *postLock() { return &m_postLock; }

    // Passes a receiver's result on as the listener's cloudResule, in the caller's (the receiver's)
    // thread. Dropped once the listener has gone.
    void deliver(QNetworkReply::NetworkError error, const QJsonDocument &jd);
    // The listener is going away. Returns after a delivery under way has ended; none follows.
    void detach();

private:
    QMutex m_postLock;
    // A standard mutex, not a QMutex: the thread sanitizer sees into this one, and the pair of
    // deliver() and detach() is exactly what it should watch.
    std::mutex m_serverLock;
    PrinterServer *m_server;
};

#endif // LISTENERLINK_H
