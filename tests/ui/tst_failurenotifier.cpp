#include "failurenotifier.h"
#include "logcapture.h"

#include <QSignalSpy>
#include <QTest>

class TestFailureNotifier : public QObject
{
    Q_OBJECT

private slots:
    void oneMessagePerPrinterAndMinute()
    {
        QSystemTrayIcon tray;
        qint64 now = 1000;
        FailureNotifier notifier(&tray, nullptr, [&now] { return now; });
        QSignalSpy shown(&notifier, &FailureNotifier::messageShown);
        LogCapture log;

        QVERIFY(notifier.notifyFailure(
            QStringLiteral("前台"), QStringLiteral("打印失败:设备离线"), QStringLiteral("会议纪要.pdf")));
        QCOMPARE(shown.count(), 1);
        QCOMPARE(shown.at(0).at(0).toString(),
            QStringLiteral("打印机 前台：打印失败:设备离线\n文档：会议纪要.pdf"));
        QCOMPARE(log.linesContaining(
                        QStringLiteral("tray message: 打印机 前台：打印失败:设备离线 文档：会议纪要.pdf"))
                     .size(),
            1);

        // Within the minute: neither the same printer nor its name in another case, but another printer.
        now += 30000;
        QVERIFY(!notifier.notifyFailure(
            QStringLiteral("前台"), QStringLiteral("打印失败:网络访问异常"), QString()));
        now += 29999;
        QVERIFY(!notifier.notifyFailure(
            QStringLiteral("前台"), QStringLiteral("打印失败:网络访问异常"), QString()));
        QVERIFY(notifier.notifyFailure(
            QStringLiteral("Lab"), QStringLiteral("打印失败:打印文件过大"), QString()));
        now += 1;
        QVERIFY(notifier.notifyFailure(
            QStringLiteral("前台"), QStringLiteral("打印失败:网络访问异常"), QString()));
        QVERIFY(!notifier.notifyFailure(QStringLiteral("lab"), QStringLiteral("打印失败:"), QString()));
        QCOMPARE(shown.count(), 3);
        QCOMPARE(shown.at(1).at(0).toString(), QStringLiteral("打印机 Lab：打印失败:打印文件过大"));
        QCOMPARE(log.count(QStringLiteral("tray message:")), 3);
    }

    void clickOpensTheShownPrintersHistory()
    {
        QSystemTrayIcon tray;
        FailureNotifier notifier(&tray);
        QSignalSpy history(&notifier, &FailureNotifier::historyRequested);

        emit tray.messageClicked();
        QCOMPARE(history.count(), 0);

        QVERIFY(notifier.notifyFailure(QStringLiteral("A"), QStringLiteral("打印失败:设备离线"), QString()));
        QVERIFY(notifier.notifyFailure(QStringLiteral("B"), QStringLiteral("打印失败:设备离线"), QString()));
        emit tray.messageClicked();
        QCOMPARE(history.count(), 1);
        QCOMPARE(history.at(0).at(0).toString(), QStringLiteral("B"));

        // A message about something else opens nothing.
        notifier.showMessage(QStringLiteral("打印机 B 的端口被其他程序占用"), QSystemTrayIcon::Warning);
        emit tray.messageClicked();
        QCOMPARE(history.count(), 1);
    }
};

QTEST_MAIN(TestFailureNotifier)
#include "tst_failurenotifier.moc"
