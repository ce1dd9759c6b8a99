#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every Qt message of every thread, with its level, while it lives, so a test can check
// what the code logged without the program's own log handler.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    struct Line
    {
        QtMsgType type;
        QString text;
    };

    QList<Line> entries() const;
    QStringList lines() const;
    // Only the messages of one level.
    QStringList lines(QtMsgType type) const;
    QStringList linesContaining(const QString &text) const;
    QStringList linesStartingWith(const QString &prefix) const;
    int count(const QString &text) const { return linesContaining(text).size(); }
    int countStartingWith(const QString &prefix) const { return linesStartingWith(prefix).size(); }
    // True when a line of that level starts with prefix.
    bool hasLine(const QString &prefix, QtMsgType type) const;
    void clear();

private:
    QtMessageHandler m_previous;
};

#endif // LOGCAPTURE_H
