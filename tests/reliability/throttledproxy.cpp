#include "throttledproxy.h"

#include <QTcpSocket>

#include <utility>

namespace {
constexpr int kTickMs = 20;
} // namespace

ThrottledProxy::ThrottledProxy(quint16 targetPort, qint64 bytesPerSecond, QObject *parent)
    : QObject(parent)
    , m_targetPort(targetPort)
    , m_bytesPerTick(qMax<qint64>(1, bytesPerSecond * kTickMs / 1000))
{
    connect(&m_server, &QTcpServer::newConnection, this, &ThrottledProxy::onNewConnection);
    m_tick.setInterval(kTickMs);
    connect(&m_tick, &QTimer::timeout, this, &ThrottledProxy::onTick);
}

ThrottledProxy::~ThrottledProxy()
{
    // Connections still open (a client's kept-alive one, say) say `disconnected` as the server takes
    // them down, after the list of links is gone; they must not look for it then.
    for (const Link &link : std::exchange(m_links, {})) {
        link.client->disconnect(this);
        delete link.client;
    }
}

bool ThrottledProxy::listen()
{
    m_tick.start();
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QString ThrottledProxy::base() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
}

void ThrottledProxy::onNewConnection()
{
    while (QTcpSocket *client = m_server.nextPendingConnection()) {
        // Held back in the kernel's buffers, so that the sender feels the rate.
        client->setReadBufferSize(m_bytesPerTick);
        auto *target = new QTcpSocket(client);
        target->connectToHost(QHostAddress::LocalHost, m_targetPort);
        connect(
            target, &QTcpSocket::readyRead, client, [client, target] { client->write(target->readAll()); });
        connect(target, &QTcpSocket::disconnected, client, [client] { client->disconnectFromHost(); });
        connect(client, &QTcpSocket::disconnected, this, [this, client] {
            for (auto it = m_links.begin(); it != m_links.end(); ++it) {
                if (it->client == client) {
                    m_links.erase(it);
                    break;
                }
            }
            client->deleteLater();
        });
        m_links.push_back({ client, target });
    }
}

void ThrottledProxy::onTick()
{
    for (const Link &link : m_links) {
        if (link.target->state() != QAbstractSocket::ConnectedState)
            continue;
        const QByteArray piece = link.client->read(m_bytesPerTick);
        if (!piece.isEmpty()) {
            link.target->write(piece);
            m_forwarded += piece.size();
        }
    }
}
