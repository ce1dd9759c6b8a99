#include "logcapture.h"

#include <mutex>

namespace {

// std::mutex rather than QMutex: the thread sanitizer cannot see a QMutex locked inside an
// uninstrumented Qt, and would report the lines as races.
std::mutex g_mutex;
QList<LogCapture::Line> g_lines;

void collect(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    std::lock_guard<std::mutex> locker(g_mutex);
    g_lines.append({ type, text });
}

template<typename Keep> QStringList select(const QList<LogCapture::Line> &all, Keep keep)
{
    QStringList found;
    for (const LogCapture::Line &line : all) {
        if (keep(line))
            found.append(line.text);
    }
    return found;
}

} // namespace

LogCapture::LogCapture()
{
    clear();
    m_previous = qInstallMessageHandler(collect);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
}

QList<LogCapture::Line> LogCapture::entries() const
{
    std::lock_guard<std::mutex> locker(g_mutex);
    return g_lines;
}

QStringList LogCapture::lines() const
{
    return select(entries(), [](const Line &) { return true; });
}

QStringList LogCapture::lines(QtMsgType type) const
{
    return select(entries(), [type](const Line &line) { return line.type == type; });
}

QStringList LogCapture::linesContaining(const QString &text) const
{
    return select(entries(), [&text](const Line &line) { return line.text.contains(text); });
}

QStringList LogCapture::linesStartingWith(const QString &prefix) const
{
    return select(entries(), [&prefix](const Line &line) { return line.text.startsWith(prefix); });
}

bool LogCapture::hasLine(const QString &prefix, QtMsgType type) const
{
    const QList<Line> all = entries();
    return std::any_of(all.cbegin(), all.cend(),
        [&](const Line &line) { return line.type == type && line.text.startsWith(prefix); });
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> locker(g_mutex);
    g_lines.clear();
}
