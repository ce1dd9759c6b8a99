#ifndef TESTPAGETHREAD_H
#define TESTPAGETHREAD_H

#include <QThread>

// Prints the spooler's test page of one printer in the background: the installer that does it runs
// as a child process and may take its full time limit, which the window must not wait for.
class TestPageThread : public QThread
{
    Q_OBJECT

public:
    explicit TestPageThread(const QString &printerName, QObject *parent = nullptr);

signals:
    // The installer has finished or was given up; the page itself comes back as a print job.
    void testPagePrinted(QString printerName);

protected:
    void run() override;

private:
    QString m_printerName;
};

#endif // TESTPAGETHREAD_H
