#ifndef FAILURENOTIFIER_H
#define FAILURENOTIFIER_H

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QSystemTrayIcon>

#include <functional>

// Tells the user through the tray that a printer's job failed, at most once a minute per printer so
// that a printer whose every job fails does not bury the desktop in messages. Clicking the message
// asks for that printer's job history.
class FailureNotifier : public QObject
{
    Q_OBJECT

public:
    // Milliseconds on a clock that only moves forward.
    using MonotonicClock = std::function<qint64()>;

    static constexpr qint64 kQuietMs = 60000;

    // Without a clock of its own the notifier counts from its construction.
    explicit FailureNotifier(
        QSystemTrayIcon *tray, QObject *parent = nullptr, MonotonicClock clock = MonotonicClock());

    // Shows "打印机 X：<result>" with the document; false when this printer had one within the minute.
    bool notifyFailure(const QString &printerName, const QString &result, const QString &document);
    // Any other tray message: clicking it opens no history.
    void showMessage(const QString &message, QSystemTrayIcon::MessageIcon icon);

signals:
    void messageShown(QString message);
    void historyRequested(QString printerName);

private:
    void onMessageClicked();
    void show(const QString &message, QSystemTrayIcon::MessageIcon icon);

    QSystemTrayIcon *m_tray = nullptr;
    QElapsedTimer m_started;
    MonotonicClock m_clock;
    // When each printer's last message was shown, keyed by the case-folded name.
    QHash<QString, qint64> m_lastShown;
    // The printer whose failure the tray shows now; empty when it shows something else.
    QString m_shownPrinter;
};

#endif // FAILURENOTIFIER_H
