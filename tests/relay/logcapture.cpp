#include "logcapture.h"

#include <mutex>

namespace {
// std::mutex rather than QMutex: the thread sanitizer cannot see a QMutex locked inside an
// uninstrumented Qt, and would report the lines as races.
std::mutex g_mutex;
QStringList g_lines;

void collect(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    std::lock_guard<std::mutex> locker(g_mutex);
    g_lines.append(msg);
}
} // namespace

LogCapture::LogCapture()
{
    {
        std::lock_guard<std::mutex> locker(g_mutex);
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
    std::lock_guard<std::mutex> locker(g_mutex);
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
