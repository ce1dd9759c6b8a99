#include "errordialog.h"
#include "qcircleprocess.h"
#include "waittingdlg.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QMovie>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

int opaquePixels(QWidget &widget)
{
    QImage image(widget.size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    widget.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qAlpha(image.pixel(x, y)) > 0;
    return count;
}

} // namespace

class TestDialogs : public QObject
{
    Q_OBJECT

private slots:
    void spokeMeasures_data()
    {
        QTest::addColumn<int>("side");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("corner");
        QTest::newRow("card state, 18") << 18 << 5 << 1 << 0;
        QTest::newRow("test page, 39") << 39 << 12 << 2 << 1;
        QTest::newRow("just above the thin limit, 33") << 33 << 10 << 2 << 1;
        QTest::newRow("at the thin limit, 32") << 32 << 10 << 3 << 1;
    }

    void spokeMeasures()
    {
        QFETCH(int, side);
        QFETCH(int, length);
        QFETCH(int, width);
        QFETCH(int, corner);
        const QCircleProcess::Spokes spokes = QCircleProcess::spokesFor(side);
        QCOMPARE(spokes.length, length);
        QCOMPARE(spokes.width, width);
        QCOMPARE(spokes.cornerRadius, corner);
    }

    void spinnerTimerAndPainting()
    {
        QCircleProcess spinner(39);
        QCOMPARE(spinner.size(), QSize(39, 39));
        QCOMPARE(spinner.sizeHint(), QSize(39, 39));
        QCOMPARE(spinner.heightForWidth(25), 25);
        QCOMPARE(spinner.focusPolicy(), Qt::NoFocus);
        spinner.setColor(QColor(QStringLiteral("#ffffff")));

        QCOMPARE(opaquePixels(spinner), 0); // stopped and not displayed when stopped
        spinner.setDisplayedWhenStopped(true);
        QVERIFY(opaquePixels(spinner) > 0);
        spinner.setDisplayedWhenStopped(false);

        // Changing the delay while stopped does not start the spinner.
        spinner.setAnimationDelay(10);
        QVERIFY(!spinner.isAnimated());
        QCOMPARE(spinner.animationDelay(), 10);

        spinner.startAnimation();
        QVERIFY(spinner.isAnimated());
        QTRY_VERIFY(spinner.angle() >= 60);
        QVERIFY(opaquePixels(spinner) > 0);
        // A second start keeps the one timer and begins the turn again.
        const QList<QTimer *> none = spinner.findChildren<QTimer *>();
        QVERIFY(none.isEmpty());
        spinner.startAnimation();
        QVERIFY(spinner.angle() < 60);
        QTRY_COMPARE(spinner.angle(), 90);

        spinner.setAnimationDelay(20);
        QVERIFY(spinner.isAnimated());
        QCOMPARE(spinner.animationDelay(), 20);

        spinner.stopAnimation();
        QVERIFY(!spinner.isAnimated());
        const int stoppedAt = spinner.angle();
        QTest::qWait(60);
        QCOMPARE(spinner.angle(), stoppedAt);
    }

    void busyDialog()
    {
        WaittingDlg dialog;
        QCOMPARE(dialog.size(), QSize(75, 75));
        QVERIFY(dialog.windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(dialog.movie()->isValid());
        dialog.startWaiting();
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.movie()->state(), QMovie::Running);
        dialog.stopWaiting();
        QVERIFY(dialog.isHidden());
        QCOMPARE(dialog.movie()->state(), QMovie::NotRunning);
        dialog.startWaiting();
        QVERIFY(dialog.isVisible());

        // The user cannot wave it away while the work goes on.
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
        dialog.stopWaiting();
        QVERIFY(dialog.isHidden());
    }

    void nonModalMessageDeletesItselfOnClose()
    {
        QWidget parent;
        QPointer<ErrorDialog> dialog = ErrorDialog::showNonModal(QStringLiteral("打印成功"), &parent);
        QVERIFY(dialog);
        QVERIFY(dialog->isVisible());
        QVERIFY(!dialog->isModal());
        QVERIFY(!QApplication::activeModalWidget());
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->text() == QStringLiteral("确定"))
                button->click();
        }
        QTRY_VERIFY(dialog.isNull());
    }

    void messageDialogWrapsAndCloses()
    {
        const QString longText
            = QStringLiteral("添加打印机失败，无法添加端口。请确认打印服务正在运行，然后再试一次；"
                             "如果问题仍然存在，请查看日志文件。");
        ErrorDialog dialog(longText, nullptr);
        QCOMPARE(dialog.size(), QSize(316, 206));
        QLabel *label = nullptr;
        for (QLabel *candidate : dialog.findChildren<QLabel *>()) {
            if (candidate->text() == longText)
                label = candidate;
        }
        QVERIFY(label);
        QVERIFY(label->wordWrap());
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        // Wrapped: narrower than the dialog, taller than one line.
        QVERIFY(label->width() <= 316);
        QVERIFY(label->height() > label->fontMetrics().height() * 2);
        dialog.hide();

        // Both buttons end the modal run.
        for (const QString &which : { QStringLiteral("确定"), QString() }) {
            ErrorDialog box(QStringLiteral("请输入云序号!"), nullptr);
            QTimer::singleShot(0, &box, [&box, which] {
                for (QPushButton *button : box.findChildren<QPushButton *>()) {
                    if (button->text() == which)
                        button->click();
                }
            });
            QCOMPARE(box.exec(), int(QDialog::Rejected));
        }
    }
};

QTEST_MAIN(TestDialogs)
#include "tst_dialogs.moc"
