#include "logcapture.h"

#include <QMutex>
#include <QMutexLocker>
#include <QVector>

namespace {

struct Message
{
    QtMsgType type;
    QString text;
};

QMutex g_mutex;
QVector<Message> g_messages;

void collect(QtMsgType type, const QMessageLogContext &, const QString &msg)
{
    QMutexLocker locker(&g_mutex);
    g_messages.append({type, msg});
}

template <typename Keep>
QStringList select(Keep keep)
{
    QMutexLocker locker(&g_mutex);
    QStringList found;
    for (const Message &message : qAsConst(g_messages)) {
        if (keep(message))
            found.append(message.text);
    }
    return found;
}

} // namespace

LogCapture::LogCapture()
{
    {
        QMutexLocker locker(&g_mutex);
        g_messages.clear();
    }
    m_previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::lines() const
{
    return select([](const Message &) { return true; });
}

QStringList LogCapture::lines(QtMsgType type) const
{
    return select([type](const Message &m) { return m.type == type; });
}

QStringList LogCapture::linesContaining(const QString &text) const
{
    return select([&text](const Message &m) { return m.text.contains(text); });
}

QStringList LogCapture::linesStartingWith(const QString &prefix) const
{
    return select([&prefix](const Message &m) { return m.text.startsWith(prefix); });
}

int LogCapture::count(const QString &text) const
{
    return linesContaining(text).size();
}
