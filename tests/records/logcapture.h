#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Collects every Qt message while it lives, so a test can check what the code logged without the
// program's own log handler.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // The lines that start with prefix.
    QStringList linesStartingWith(const QString &prefix) const;

private:
    QtMessageHandler m_previous;
};

#endif // LOGCAPTURE_H
