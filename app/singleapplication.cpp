#include "singleapplication.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QDeadlineTimer>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QSysInfo>
#include <QThread>
#include <QWidget>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

QString currentUserName()
{
    QString user = qEnvironmentVariable("USERNAME");
    if (user.isEmpty())
        user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = QDir::homePath();
    return user;
}

// The user's logon session: every program the user starts after logging on shares it.
QString logonSession()
{
#ifdef _WIN32
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session))
        return QString::number(session);
    return QString();
#else
    QFile file(QStringLiteral("/proc/self/sessionid"));
    if (file.open(QIODevice::ReadOnly))
        return QString::fromLatin1(file.readAll().trimmed());
    return qEnvironmentVariable("XDG_SESSION_ID");
#endif
}

// Messages travel as one length-prefixed UTF-8 block per connection.
QByteArray frame(const QString &message)
{
    QByteArray block;
    QDataStream stream(&block, QIODevice::WriteOnly);
    stream << message.toUtf8();
    return block;
}

} // namespace

SingleApplication::SingleApplication(int &argc, char **argv, bool guiEnabled)
    : QApplication(argc, argv, guiEnabled)
    , m_key(instanceKey())
{
    m_lock = new QLockFile(QDir::tempPath() + QLatin1Char('/') + m_key + QStringLiteral(".lock"));
    m_running = !takeInstanceLock(*m_lock);
    if (!m_running)
        startServer();
}

SingleApplication::~SingleApplication()
{
    delete m_lock;
}

QString SingleApplication::instanceKey()
{
    // Not the program's path: a second installation in another folder would otherwise run beside
    // the first, fail to listen on the printers' ports and show cards that do nothing. The name
    // keeps other programs built on this class (test programs among them) apart.
    const QString program = QCoreApplication::instance() ? QCoreApplication::applicationName() : QString();
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(program.toUtf8());
    hash.addData("\n", 1);
    hash.addData(currentUserName().toUtf8());
    hash.addData("\n", 1);
    hash.addData(logonSession().toUtf8());
    return QStringLiteral("PrintCourier-") + QString::fromLatin1(hash.result().toHex().left(16));
}

bool SingleApplication::takeInstanceLock(QLockFile &lock)
{
    // The lock outlives a crashed owner only until its process is gone; tryLock removes stale ones.
    lock.setStaleLockTime(0);
    // A lock left by a killed instance whose process id has come round to us looks held by a
    // live PrintCourier, and the program would never start again. Process ids start afresh after
    // a reboot (and with every Wine server), so that is no rare event. Nobody but us can be that
    // process, and we hold nothing yet: the file is stale.
    qint64 pid = 0;
    QString host;
    QString application;
    if (lock.getLockInfo(&pid, &host, &application) && pid == QCoreApplication::applicationPid()
        && host == QSysInfo::machineHostName()) {
        qDebug() << "SingleApplication lock of an earlier instance with our process id removed";
        lock.removeStaleLockFile();
    }
    return lock.tryLock(0);
}

bool SingleApplication::isRunning() const
{
    return m_running;
}

void SingleApplication::startServer()
{
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    // A socket left behind by a crashed instance would make listen fail; we hold the lock, so
    // whatever is there is stale.
    QLocalServer::removeServer(m_key);
    if (!m_server->listen(m_key)) {
        qWarning() << "SingleApplication listen failed" << m_server->errorString();
        return;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleApplication::onNewConnection);
}

void SingleApplication::onNewConnection()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            QDataStream stream(socket);
            stream.startTransaction();
            QByteArray message;
            stream >> message;
            if (!stream.commitTransaction())
                return;
            socket->disconnectFromServer();
            qDebug() << "SingleApplication message from another start:" << QString::fromUtf8(message);
            emit messageReceived(QString::fromUtf8(message));
        });
    }
}

bool SingleApplication::sendMessage(const QString &message, int timeout)
{
    if (!m_running)
        return false;
    // The first instance may hold the lock a moment before it listens: keep trying until the deadline.
    QDeadlineTimer deadline(timeout);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(m_key);
        if (socket.waitForConnected(int(qMax<qint64>(deadline.remainingTime(), 0))))
            break;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
    socket.write(frame(message));
    if (!socket.waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 0))))
        return false;
    // The receiver closes once it has the whole message, so the message is not cut off by our exit.
    if (socket.state() == QLocalSocket::ConnectedState)
        socket.waitForDisconnected(int(qMax<qint64>(deadline.remainingTime(), 0)));
    return true;
}

void SingleApplication::setActivationWindow(QWidget *window, bool activateOnMessage)
{
    m_activationWindow = window;
    disconnect(this, &SingleApplication::messageReceived, this, &SingleApplication::activateWindow);
    if (activateOnMessage)
        connect(this, &SingleApplication::messageReceived, this, &SingleApplication::activateWindow);
}

QWidget *SingleApplication::activationWindow() const
{
    return m_activationWindow;
}

void SingleApplication::activateWindow()
{
    if (!m_activationWindow)
        return;
    // All four steps: a window hidden to the tray must be shown again, not only raised.
    m_activationWindow->setWindowState(m_activationWindow->windowState() & ~Qt::WindowMinimized);
    m_activationWindow->showNormal();
    m_activationWindow->raise();
    m_activationWindow->activateWindow();
}
