#ifndef SINGLEAPPLICATION_H
#define SINGLEAPPLICATION_H

#include <QApplication>
#include <QPointer>

class QLocalServer;
class QLockFile;

// A widget application that is also the guard against a second instance of the same program
// started by the same user: the first instance holds a lock file and listens on a local socket,
// a later one finds the lock taken and can pass a text message to the first.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    SingleApplication(int &argc, char **argv, bool guiEnabled = true);
    ~SingleApplication() override;

    bool isRunning() const;
    bool sendMessage(const QString &message, int timeout = 5000);

    void setActivationWindow(QWidget *window, bool activateOnMessage = true);
    QWidget *activationWindow() const;

    // The identity of this program for this user; instances with the same identity are one program.
    static QString instanceKey();
    // Takes the instance lock; false when a live instance holds it.
    static bool takeInstanceLock(QLockFile &lock);

signals:
    void messageReceived(const QString &message);

public slots:
    void activateWindow();

private:
    void startServer();
    void onNewConnection();

    QString m_key;
    QLockFile *m_lock = nullptr;
    QLocalServer *m_server = nullptr;
    bool m_running = false;
    QPointer<QWidget> m_activationWindow;
};

#endif // SINGLEAPPLICATION_H
