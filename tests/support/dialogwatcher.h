#ifndef DIALOGWATCHER_H
#define DIALOGWATCHER_H

#include <QObject>
#include <QStringList>

class QTimer;

// Answers the program's dialogs while a test drives it: every modal dialog that shows a message, and
// every message shown without waiting, is read (its labels' texts) and closed with the button of the
// given text, or rejected.
class DialogWatcher : public QObject
{
    Q_OBJECT

public:
    explicit DialogWatcher(const QString &buttonText = QString(), QObject *parent = nullptr);

    // The message of each dialog seen, oldest first.
    QStringList messages() const { return m_messages; }
    void clear() { m_messages.clear(); }

private:
    void poll();

    QString m_buttonText;
    QStringList m_messages;
    QTimer *m_timer = nullptr;
};

#endif // DIALOGWATCHER_H
