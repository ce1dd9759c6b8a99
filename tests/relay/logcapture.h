#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QStringList>
#include <QtGlobal>

// Collects every Qt message of every thread while it lives, so a test can check what was logged.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    QStringList linesContaining(const QString &text) const;
    int count(const QString &text) const;

private:
    QtMessageHandler m_previous;
};

#endif // LOGCAPTURE_H
