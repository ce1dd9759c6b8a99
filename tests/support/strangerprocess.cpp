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

bool StrangerProcess::postLikeABrowser(quint16 port, const QByteArray &body)
{
    if (!start(QStringLiteral("curl"),
            { QStringLiteral("-s"), QStringLiteral("-m"), QStringLiteral("20"), QStringLiteral("-H"),
                QStringLiteral("Content-Type: text/plain"), QStringLiteral("--data-binary"),
                QString::fromUtf8(body), QStringLiteral("http://127.0.0.1:%1/").arg(port) }))
        return false;
    // Its wait must not hold up a listener of this process: events go on meanwhile.
    QDeadlineTimer deadline(30000);
    while (m_process.state() != QProcess::NotRunning) {
        if (deadline.hasExpired()) {
            m_error = QStringLiteral("curl did not finish");
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        m_process.waitForFinished(20);
    }
    m_answered = m_process.exitCode() == 0 || !m_process.readAllStandardOutput().isEmpty();
    return true;
}

bool StrangerProcess::start(const QString &program, const QStringList &arguments)
{
    m_process.start(program, arguments);
    if (!m_process.waitForStarted(10000)) {
        m_error = m_process.errorString();
        return false;
    }
    m_processId = m_process.processId();
    return true;
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
        QFile::setPermissions(m_toolCopy,
            QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::ReadOther | QFileDevice::ExeOther
                | QFileDevice::WriteOwner);
        tool = m_toolCopy;
        return start(QStringLiteral("setpriv"),
            QStringList { QStringLiteral("--reuid=") + QLatin1String(kOtherUid),
                QStringLiteral("--regid=") + QLatin1String(kOtherUid), QStringLiteral("--clear-groups"),
                tool }
                + arguments);
    }
    return start(tool, arguments);
}

bool StrangerProcess::waitReady(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!m_process.canReadLine()) {
        if (deadline.hasExpired() || m_process.state() == QProcess::NotRunning) {
            m_error = QStringLiteral("the stranger said nothing: ")
                + QString::fromLocal8Bit(m_process.readAllStandardError());
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
