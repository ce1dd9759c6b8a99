#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Collects every Qt message of every thread while it lives, so a test can check what was logged
// without the program's own log handler.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // Only the messages of one level.
    QStringList lines(QtMsgType type) const;
    QStringList linesContaining(const QString &text) const;
    QStringList linesStartingWith(const QString &prefix) const;
    int count(const QString &text) const;

private:
    QtMessageHandler m_previous;
};

#endif // LOGCAPTURE_H
