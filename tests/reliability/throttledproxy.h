#ifndef THROTTLEDPROXY_H
#define THROTTLEDPROXY_H

#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <vector>

class QTcpSocket;

// A loopback hop in front of a service that lets the client's bytes through at a set rate, as an
// ordinary uplink would; the answers come back at once.
class ThrottledProxy : public QObject
{
    Q_OBJECT
public:
    ThrottledProxy(quint16 targetPort, qint64 bytesPerSecond, QObject *parent = nullptr);
    ~ThrottledProxy() override;

    bool listen();
    QString base() const;
    // The client's bytes passed on so far.
    qint64 forwarded() const { return m_forwarded; }

private:
    struct Link
    {
        QTcpSocket *client;
        QTcpSocket *target;
    };

    void onNewConnection();
    void onTick();

    QTcpServer m_server;
    QTimer m_tick;
    quint16 m_targetPort;
    qint64 m_bytesPerTick;
    qint64 m_forwarded = 0;
    std::vector<Link> m_links;
};

#endif // THROTTLEDPROXY_H
