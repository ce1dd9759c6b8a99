#include "logcapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_mutex;
QStringList g_lines;

void collect(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    QMutexLocker locker(&g_mutex);
    g_lines.append(msg);
}
} // namespace

LogCapture::LogCapture()
{
    {
        QMutexLocker locker(&g_mutex);
        g_lines.clear();
    }
    m_previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList LogCapture::lines() const
{
    QMutexLocker locker(&g_mutex);
    return g_lines;
}

QStringList LogCapture::linesContaining(const QString &text) const
{
    QStringList found;
    const QStringList all = lines();
    for (const QString &line : all) {
        if (line.contains(text))
            found.append(line);
    }
    return found;
}

int LogCapture::count(const QString &text) const
{
    return linesContaining(text).size();
}
