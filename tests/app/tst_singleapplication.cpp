#include "singleapplication.h"

#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>

#include <cstring>

// The test process is the first instance; copies of itself started with --second are later starts
// of the same program by the same user.
class TestSingleApplication : public QObject
{
    Q_OBJECT

private:
    static SingleApplication *app() { return static_cast<SingleApplication *>(qApp); }

    // Our event loop keeps running meanwhile: the child's message is answered while it waits.
    static int runSecond(const QString &message)
    {
        QProcess child;
        QSignalSpy finished(&child, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        child.start(QCoreApplication::applicationFilePath(), { QStringLiteral("--second"), message });
        if (!finished.wait(30000))
            return -1;
        return child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -2;
    }

private slots:
    void firstInstanceIsNotRunningElsewhere()
    {
        QVERIFY(!app()->isRunning());
        QVERIFY(!app()->sendMessage(QStringLiteral("to nobody"), 100));
    }

    // A killed instance leaves its lock file; when a later start gets the same process id (ids
    // start afresh after a reboot), the file names a live PrintCourier: ours.
    void lockOfAKilledInstanceWithOurProcessIdIsStale()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString left = dir.filePath(QStringLiteral("left.lock"));
        {
            const QString written = dir.filePath(QStringLiteral("writer.lock"));
            QLockFile writer(written);
            QVERIFY(writer.tryLock(0));
            QVERIFY(QFile::copy(written, left));
        }
        QLockFile lock(left);
        QVERIFY(SingleApplication::takeInstanceLock(lock));
        QVERIFY(lock.isLocked());

        // Held by a live instance, the lock stays taken.
        QLockFile other(left);
        QVERIFY(!SingleApplication::takeInstanceLock(other));
    }

    void secondStartDeliversMessage()
    {
        QSignalSpy spy(app(), &SingleApplication::messageReceived);
        QCOMPARE(runSecond(QStringLiteral("hello 你好")), 0);
        QTRY_COMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toString(), QStringLiteral("hello 你好"));
    }

    void messageRestoresHiddenWindow()
    {
        QWidget window;
        window.resize(200, 100);
        window.show();
        window.hide();
        app()->setActivationWindow(&window, true);
        QCOMPARE(runSecond(QStringLiteral("raise_window_noop")), 0);
        QTRY_VERIFY(window.isVisible());
        QVERIFY(!(window.windowState() & Qt::WindowMinimized));
        app()->setActivationWindow(nullptr, false);
    }

    void messageRestoresMinimisedWindow()
    {
        QWidget window;
        window.resize(200, 100);
        window.showMinimized();
        QTRY_VERIFY(window.windowState() & Qt::WindowMinimized);
        app()->setActivationWindow(&window, true);
        QCOMPARE(runSecond(QStringLiteral("raise_window_noop")), 0);
        QTRY_VERIFY(!(window.windowState() & Qt::WindowMinimized));
        QVERIFY(window.isVisible());
        app()->setActivationWindow(nullptr, false);
    }

    void withoutActivationMessageChangesNothing()
    {
        QWidget window;
        window.resize(200, 100);
        app()->setActivationWindow(&window, false);
        QSignalSpy spy(app(), &SingleApplication::messageReceived);
        QCOMPARE(runSecond(QStringLiteral("raise_window_noop")), 0);
        QTRY_COMPARE(spy.count(), 1);
        QVERIFY(window.isHidden());
        app()->setActivationWindow(nullptr, false);
    }
};

int main(int argc, char *argv[])
{
    const bool second = argc > 2 && std::strcmp(argv[1], "--second") == 0;
    SingleApplication app(argc, argv, true);
    if (second) {
        if (!app.isRunning())
            return 3;
        return app.sendMessage(QString::fromUtf8(argv[2]), 5000) ? 0 : 4;
    }
    if (app.isRunning())
        return 5; // another run of this suite holds the lock
    TestSingleApplication test;
    return QTest::qExec(&test, 1, argv);
}

#include "tst_singleapplication.moc"
