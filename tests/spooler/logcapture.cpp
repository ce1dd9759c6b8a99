#include "logcapture.h"

#include <mutex>

namespace {

// std::mutex rather than QMutex: the thread sanitizer cannot see a QMutex locked inside an
// uninstrumented Qt, and would report the lines as races.
std::mutex g_mutex;
QList<LogCapture::Line> g_lines;
QtMessageHandler g_previous = nullptr;

void collect(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    std::lock_guard<std::mutex> locker(g_mutex);
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
    std::lock_guard<std::mutex> locker(g_mutex);
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
    std::lock_guard<std::mutex> locker(g_mutex);
    g_lines.clear();
}
