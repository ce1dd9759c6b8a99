#include "logcapture.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

QMutex g_mutex;
QList<LogCapture::Line> g_lines;
QtMessageHandler g_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    QMutexLocker locker(&g_mutex);
    g_lines.append({ type, text });
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    g_previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(g_previous);
}

QList<LogCapture::Line> LogCapture::lines() const
{
    QMutexLocker locker(&g_mutex);
    return g_lines;
}

QStringList LogCapture::startingWith(const QString &prefix) const
{
    QStringList found;
    const QList<Line> all = lines();
    for (const Line &line : all) {
        if (line.text.startsWith(prefix))
            found.append(line.text);
    }
    return found;
}

bool LogCapture::hasLine(const QString &prefix, QtMsgType type) const
{
    const QList<Line> all = lines();
    for (const Line &line : all) {
        if (line.type == type && line.text.startsWith(prefix))
            return true;
    }
    return false;
}

void LogCapture::clear()
{
    QMutexLocker locker(&g_mutex);
    g_lines.clear();
}
