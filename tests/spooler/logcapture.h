#ifndef LOGCAPTURE_H
#define LOGCAPTURE_H

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Collects every Qt message, with its level, while it lives.
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

    QList<Line> lines() const;
    // The texts of the lines that start with prefix.
    QStringList startingWith(const QString &prefix) const;
    int countStartingWith(const QString &prefix) const { return startingWith(prefix).size(); }
    // True when a line of that level starts with prefix.
    bool hasLine(const QString &prefix, QtMsgType type) const;
    void clear();
};

#endif // LOGCAPTURE_H
