#include "strangerprocess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>

#include <unistd.h>

namespace {

// The unprivileged user Debian has on every machine.
const char kOtherUid[] = "65534";

} // namespace

StrangerProcess::~StrangerProcess()
{
    stop();
    if (!m_dataFile.isEmpty())
        QFile::remove(m_dataFile);
    if (!m_toolCopy.isEmpty())
        QFile::remove(m_toolCopy);
}

bool StrangerProcess::canRunAsOtherUser()
{
    return ::geteuid() == 0 && !QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty();
}

bool StrangerProcess::holdIdleConnections(quint16 port, int count)
{
    return startIdleConnections(port, count) && waitReady();
}

bool StrangerProcess::startIdleConnections(quint16 port, int count)
{
    return start({ QString::number(port), QStringLiteral("idle"), QString::number(count) });
}

bool StrangerProcess::send(quint16 port, const QByteArray &bytes)
{
    // Where another user can read it.
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/stranger-XXXXXX"));
    file.setAutoRemove(false);
    if (!file.open() || file.write(bytes) != bytes.size()) {
        m_error = QStringLiteral("cannot write the stranger's data");
        return false;
    }
    file.setPermissions(file.permissions() | QFileDevice::ReadOther);
    m_dataFile = file.fileName();
    file.close();
    return start({ QString::number(port), QStringLiteral("send"), m_dataFile }) && waitReady(30000);
}

bool StrangerProcess::start(const QStringList &arguments)
{
    QString tool = QStringLiteral(STRANGER_PATH);
    if (m_otherUser) {
        if (!canRunAsOtherUser()) {
            m_error = QStringLiteral("running as another user needs root and setpriv");
            return false;
        }
        // The build tree may lie in a folder the other user cannot enter.
        m_toolCopy = QDir::tempPath() + QStringLiteral("/stranger-tool-%1").arg(::getpid());
        QFile::remove(m_toolCopy);
        if (!QFile::copy(tool, m_toolCopy)) {
            m_error = QStringLiteral("cannot copy the stranger tool");
            return false;
        }
        QFile::setPermissions(m_toolCopy, QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther
                | QFileDevice::ExeOther | QFileDevice::WriteOwner);
        tool = m_toolCopy;
        m_process.start(QStringLiteral("setpriv"),
            QStringList { QStringLiteral("--reuid=") + QLatin1String(kOtherUid),
                QStringLiteral("--regid=") + QLatin1String(kOtherUid), QStringLiteral("--clear-groups"), tool }
                + arguments);
    } else {
        m_process.start(tool, arguments);
    }
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    return true;
}

bool StrangerProcess::waitReady(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("the stranger said nothing: ") + QString::fromLocal8Bit(m_process.readAllStandardError());
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        m_process.waitForReadyRead(20);
    }
    const QByteArray line = m_process.readLine().trimmed();
    if (!line.startsWith("ready")) {
        m_error = QString::fromLatin1(line);
        return false;
    }
    return true;
}

void StrangerProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.closeWriteChannel();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished();
    }
}
