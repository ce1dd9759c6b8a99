#include "tolmainwindow.h"

#include <QAction>
#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QTest>
#include <QTimer>

namespace {

// Answers the next modal message box with the button of the given text, from inside its exec().
void answerNextMessageBox(const QString &buttonText, QString *seenTitle, QString *seenText)
{
    QTimer::singleShot(0, [=] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) {
            answerNextMessageBox(buttonText, seenTitle, seenText);
            return;
        }
        *seenTitle = box->windowTitle();
        *seenText = box->text();
        for (QAbstractButton *button : box->buttons()) {
            if (button->text() == buttonText)
                button->click();
        }
    });
}

// Presses Enter in the next modal message box, after checking that its default button is "取消".
void pressEnterOnNextMessageBox()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box) {
        QTimer::singleShot(0, [] { pressEnterOnNextMessageBox(); });
        return;
    }
    if (!box->defaultButton() || box->defaultButton()->text() != QStringLiteral("取消")) {
        // Leave the box to the test's own timeout, which then finds the program ended.
        QCoreApplication::exit(1);
        return;
    }
    QTest::keyClick(box, Qt::Key_Return);
}

// Types text as key events, one character at a time (also characters that have no key of their own).
void typeText(QWidget *widget, const QString &text)
{
    for (const QChar c : text)
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
}

QAction *actionNamed(QWidget *window, const QString &text)
{
    for (QAction *action : window->findChildren<QAction *>()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void formAndLooks()
    {
        TolMainWindow window;
        QCOMPARE(window.objectName(), QStringLiteral("TolMainWindow"));
        QCOMPARE(window.size(), QSize(960, 600));
        QCOMPARE(window.minimumSize(), QSize(960, 600));
        QCOMPARE(window.maximumSize(), QSize(960, 600));
        QVERIFY(window.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(window.windowTitle(), QStringLiteral("VARN_01.22.05.03"));

        const struct
        {
            const char *name;
            QRect geometry;
        } widgets[] = {
            { "groupBox", { 0, -2, 190, 600 } },
            { "label_2", { 65, 70, 61, 61 } },
            { "label_ver", { 25, 149, 141, 51 } },
            { "pushButton_manage", { 0, 250, 190, 70 } },
            { "pushButton_add", { 0, 320, 190, 70 } },
            { "stackedWidget", { 190, 0, 770, 600 } },
            { "scrollArea", { 20, 40, 730, 540 } },
            { "pushButton_Min", { 687, 20, 18, 18 } },
            { "pushButton_4", { 722, 20, 18, 18 } },
            { "label_3", { 70, 75, 20, 20 } },
            { "label", { 100, 70, 601, 30 } },
            { "line", { 50, 110, 650, 1 } },
            { "label_name", { 100, 200, 111, 31 } },
            { "lineEdit_name", { 210, 200, 441, 31 } },
            { "label_num", { 100, 260, 111, 31 } },
            { "lineEdit_num", { 210, 260, 441, 31 } },
            { "pushButton_ok", { 220, 400, 330, 32 } },
            { "pushButton_2", { 687, 20, 18, 18 } },
            { "pushButton", { 722, 20, 18, 18 } },
        };
        for (const auto &w : widgets) {
            auto *widget = window.findChild<QWidget *>(QLatin1String(w.name));
            QVERIFY2(widget, w.name);
            QCOMPARE(widget->geometry(), w.geometry);
        }
        QCOMPARE(
            window.findChild<QLabel *>(QStringLiteral("label_ver"))->text(), QStringLiteral("Zodovedad"));
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButton_manage"))->text(),
            QStringLiteral(" 打印机管理"));
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButton_add"))->text(),
            QStringLiteral(" 添加打印机"));
        QCOMPARE(window.findChild<QPushButton *>(QStringLiteral("pushButton_ok"))->text(),
            QStringLiteral("添加确认"));
        auto *name = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_name"));
        auto *serial = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_num"));
        QCOMPARE(name->maxLength(), 10);
        QCOMPARE(serial->maxLength(), 16);
        QCOMPARE(name->placeholderText(), QStringLiteral("请为打印机起一个名字，不超过10位"));
        QCOMPARE(serial->placeholderText(), QStringLiteral("请根据打印机上的标签填写16位云序号"));
        // Every image the window shows is in the resources.
        QVERIFY(!window.findChild<QLabel *>(QStringLiteral("label_2"))->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!window.findChild<QLabel *>(QStringLiteral("label_3"))->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!QIcon(QStringLiteral(":/printerid/resource/varnIcon.ico")).isNull());

        auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("devlist"));
        QVERIFY(window.findChild<QPushButton *>(QStringLiteral("pushButton_manage"))
                    ->styleSheet()
                    .contains(QLatin1String("rgba(0,138,255,140)")));
    }

    void buttonIconsHaveTwiceAsLargeVariants()
    {
        // Scaled screens draw a button's icon from the larger picture instead of blowing up the small one.
        for (const char *name : { ":/image/resource/icon", ":/image/resource/icon_add",
                 ":/image/resource/refresh", ":/image/resource/detail", ":/image/resource/test",
                 ":/image/resource/modify", ":/image/resource/delete", ":/printerid/resource/close" }) {
            const QImage normal(QLatin1String(name) + QStringLiteral(".png"));
            const QImage doubled(QLatin1String(name) + QStringLiteral("@2x.png"));
            QVERIFY2(!normal.isNull() && !doubled.isNull(), name);
            QCOMPARE(doubled.size(), normal.size() * 2);
        }
    }

    void trayMenu()
    {
        TolMainWindow window;
        QAction *show = actionNamed(&window, QStringLiteral("显示主界面"));
        QAction *exit = actionNamed(&window, QStringLiteral("退出"));
        QVERIFY(show);
        QVERIFY(exit);
        auto *tray = window.findChild<QSystemTrayIcon *>();
        QVERIFY(tray);
        QCOMPARE(tray->toolTip(), QStringLiteral("Zuvezaruvor"));
        const QList<QAction *> entries = tray->contextMenu()->actions();
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.at(0), show);
        QVERIFY(entries.at(1)->isSeparator());
        QCOMPARE(entries.at(2), exit);

        QVERIFY(window.isHidden());
        show->trigger();
        QVERIFY(window.isVisible());
    }

    void pageSwitchingKeepsTypedText()
    {
        TolMainWindow window;
        window.show();
        auto *stack = window.findChild<QStackedWidget *>(QStringLiteral("stackedWidget"));
        auto *add = window.findChild<QPushButton *>(QStringLiteral("pushButton_add"));
        auto *manage = window.findChild<QPushButton *>(QStringLiteral("pushButton_manage"));
        auto *name = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_name"));
        auto *serial = window.findChild<QLineEdit *>(QStringLiteral("lineEdit_num"));

        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("addprinter"));
        QVERIFY(add->styleSheet().contains(QLatin1String("rgba(0,138,255,140)")));
        QVERIFY(!manage->styleSheet().contains(QLatin1String("rgba(0,138,255,140)")));
        typeText(name, QStringLiteral("前台打印机12345"));
        typeText(serial, QStringLiteral("00112233aabbccddEE"));
        QCOMPARE(name->text(), QStringLiteral("前台打印机12345"));
        QCOMPARE(serial->text(), QStringLiteral("00112233aabbccdd"));

        QTest::mouseClick(manage, Qt::LeftButton);
        QCOMPARE(stack->currentWidget()->objectName(), QStringLiteral("devlist"));
        QVERIFY(manage->styleSheet().contains(QLatin1String("rgba(0,138,255,140)")));
        QTest::mouseClick(add, Qt::LeftButton);
        QCOMPARE(name->text(), QStringLiteral("前台打印机12345"));
        QCOMPARE(serial->text(), QStringLiteral("00112233aabbccdd"));
    }

    void closingHidesAndButtonsHideOrMinimise()
    {
        TolMainWindow window;
        window.show();
        QVERIFY(!window.close());
        QVERIFY(window.isHidden());

        for (const char *closer : { "pushButton_4", "pushButton" }) {
            window.showNormal();
            QTest::mouseClick(window.findChild<QPushButton *>(QLatin1String(closer)), Qt::LeftButton);
            QVERIFY2(window.isHidden(), closer);
        }
        for (const char *minimiser : { "pushButton_Min", "pushButton_2" }) {
            window.showNormal();
            QTest::mouseClick(window.findChild<QPushButton *>(QLatin1String(minimiser)), Qt::LeftButton);
            QVERIFY2(window.windowState() & Qt::WindowMinimized, minimiser);
        }
    }

    void trayActivation()
    {
        TolMainWindow window;
        QVERIFY(QMetaObject::invokeMethod(&window, "on_activatedSysTrayIcon",
            Q_ARG(QSystemTrayIcon::ActivationReason, QSystemTrayIcon::Trigger)));
        QVERIFY(window.isHidden());
        QVERIFY(QMetaObject::invokeMethod(&window, "on_activatedSysTrayIcon",
            Q_ARG(QSystemTrayIcon::ActivationReason, QSystemTrayIcon::DoubleClick)));
        QVERIFY(window.isVisible());
    }

    void exitAsksAndQuitsOnlyOnConfirm()
    {
        TolMainWindow window;
        window.show();
        QAction *exit = actionNamed(&window, QStringLiteral("退出"));
        auto *tray = window.findChild<QSystemTrayIcon *>();

        // An event loop of our own stands in for the program's: the exit ends it with the program's code.
        auto runExit = [&](const QString &answer, QString *title, QString *text) {
            QEventLoop loop;
            QTimer timeout;
            timeout.setSingleShot(true);
            QObject::connect(&timeout, &QTimer::timeout, &loop, [&loop] { loop.exit(99); });
            answerNextMessageBox(answer, title, text);
            QTimer::singleShot(0, exit, &QAction::trigger);
            timeout.start(1000);
            return loop.exec();
        };

        QString title, text;
        // Enter presses the default button, which keeps the program running.
        QTimer::singleShot(0, [] { pressEnterOnNextMessageBox(); });
        {
            QEventLoop loop;
            QTimer timeout;
            timeout.setSingleShot(true);
            QObject::connect(&timeout, &QTimer::timeout, &loop, [&loop] { loop.exit(99); });
            QTimer::singleShot(0, exit, &QAction::trigger);
            timeout.start(1000);
            QCOMPARE(loop.exec(), 99);
        }
        QVERIFY(window.isVisible());
        QVERIFY(tray->isVisible());
        QCOMPARE(runExit(QStringLiteral("取消"), &title, &text), 99);
        QCOMPARE(title, QStringLiteral("注意"));
        QCOMPARE(text, QStringLiteral("关闭后将无法进行云打印，确定关闭？"));
        QVERIFY(window.isVisible());

        QCOMPARE(runExit(QStringLiteral("确定"), &title, &text), 0);
        QVERIFY(!tray->isVisible());
    }

    void dragByLabelNotByButton()
    {
        TolMainWindow window;
        window.move(100, 100);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QPoint start = window.pos();
        auto *title = window.findChild<QLabel *>(QStringLiteral("label_ver"));

        // Global positions are those of the pointer, which stays put while the window follows it.
        const QPoint pressAt = title->mapToGlobal(QPoint(10, 10));
        const QPoint releaseAt = pressAt + QPoint(30, 20);
        auto send = [title](QEvent::Type type, const QPoint &global, Qt::MouseButton button,
                        Qt::MouseButtons held) {
            QMouseEvent event(
                type, QPointF(title->mapFromGlobal(global)), QPointF(global), button, held, Qt::NoModifier);
            QApplication::sendEvent(title, &event);
        };
        send(QEvent::MouseButtonPress, pressAt, Qt::LeftButton, Qt::LeftButton);
        send(QEvent::MouseMove, pressAt + QPoint(12, 7), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(window.pos(), start + QPoint(12, 7));
        send(QEvent::MouseButtonRelease, releaseAt, Qt::LeftButton, Qt::NoButton);
        QTRY_COMPARE(window.pos(), start + QPoint(30, 20));

        const QPoint afterDrag = window.pos();
        auto *ok = window.findChild<QPushButton *>(QStringLiteral("pushButton_ok"));
        QTest::mousePress(ok, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QTest::mouseRelease(ok, Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));
        QCOMPARE(window.pos(), afterDrag);
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
