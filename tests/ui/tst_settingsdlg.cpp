#include "clock.h"
#include "closedport.h"
#include "detailfile.h"
#include "outboxjournal.h"
#include "printeroutbox.h"
#include "programfolder.h"
#include "relaysettings.h"
#include "settingsdlg.h"
#include "spoolerfixture.h"
#include "winsim/winsimcontrol.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

namespace {

const char kSerial[] = "0123456789ABCDEF";

// The texts of a row's six columns of data (the seventh holds the row's action, if any).
QStringList rowTexts(QTableWidget *table, int row)
{
    QStringList texts;
    for (int column = 0; column < 6; ++column) {
        const QTableWidgetItem *item = table->item(row, column);
        texts << (item ? item->text() : QStringLiteral("<none>"));
    }
    return texts;
}

QDate today()
{
    return QDate(2026, 12, 7);
}
QDate yesterday()
{
    return QDate(2026, 12, 6);
}

void appendBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Append), qPrintable(path));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

// Writes a job's record as the card does, on the given day at 23:00 (or today at 10:00).
void recordJob(const QDate &day, const QString &jobneed, const QString &result, qint64 size)
{
    const QTime at = day == today() ? QTime(10, 0) : QTime(23, 0);
    Clock::setFixedForTesting(QDateTime(day, at));
    appendJobRecord(QLatin1String(kSerial), jobneed, result, size);
    Clock::setFixedForTesting(QDateTime(today(), QTime(10, 0)));
}

QStringList column(QTableWidget *table, int column)
{
    QStringList texts;
    for (int row = 0; row < table->rowCount(); ++row)
        texts << (table->item(row, column) ? table->item(row, column)->text() : QStringLiteral("<none>"));
    return texts;
}

// What the view hands its viewport when the mouse has rested on a point.
void restMouseOn(QTableWidget *table, const QPoint &pos)
{
    QHelpEvent help(QEvent::ToolTip, pos, table->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(table->viewport(), &help);
}

void moveMouseTo(QTableWidget *table, const QPoint &pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, table->viewport()->mapToGlobal(pos), Qt::NoButton, Qt::NoButton,
        Qt::NoModifier);
    QApplication::sendEvent(table->viewport(), &move);
}

void refresh(SettingsDlg &dialog)
{
    QVERIFY(QMetaObject::invokeMethod(&dialog, "on_Timeout"));
}

DriverInfo printerP1()
{
    DriverInfo info;
    info.printer_name = QStringLiteral("P1");
    info.cloud_sn = QLatin1String(kSerial);
    return info;
}

// A failed job as the outbox keeps it after the card recorded it at `end`: bytes and all.
qint64 keepFailedJob(OutboxJournal &journal, const QString &jobneed, const QByteArray &bytes, const QDateTime &end)
{
    Clock::setFixedForTesting(end);
    const qint64 id = journal.addJob(QStringLiteral("P1"), QLatin1String(kSerial), jobneed);
    QFile spool(journal.spoolFilePath(id));
    if (!spool.open(QIODevice::WriteOnly) || spool.write(bytes) != bytes.size())
        return 0;
    spool.close();
    journal.setReceived(id, bytes.size());
    journal.setPosting(id);
    journal.setFinal(id, QStringLiteral("打印失败:设备离线"));
    appendJobRecord(QLatin1String(kSerial), jobneed, QStringLiteral("打印失败:设备离线"), bytes.size());
    Clock::setFixedForTesting(QDateTime(today(), QTime(10, 0)));
    return id;
}

QPushButton *resendButton(QTableWidget *table, int row)
{
    return qobject_cast<QPushButton *>(table->cellWidget(row, 6));
}

qint64 utcMs(int h, int m, int s)
{
    return QDateTime(QDate(2026, 12, 7), QTime(h, m, s), Qt::UTC).toMSecsSinceEpoch();
}

} // namespace

class TestSettingsDlg : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(ProgramFolder::install()); }

    void init()
    {
        Clock::setFixedForTesting(QDateTime(today(), QTime(10, 0)));
        QVERIFY(winsim::reset());
        for (int days = -2; days <= 1; ++days)
            QFile::remove(detailFilePath(QLatin1String(kSerial), today().addDays(days)));
        QVERIFY(winsim::installDriver("Varn VN-210K", "Windows x64", "1.0.0.0"));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("P1"), 1, QLatin1String(kSerial)));
    }

    void cleanup() { QCOMPARE(winsim::openHandleCount(), 0); }

    void emptyHistoryAndQueue()
    {
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(table->columnCount(), 7);
        QStringList headers;
        for (int column = 0; column < 7; ++column)
            headers << table->horizontalHeaderItem(column)->text();
        QCOMPARE(headers, (QStringList{QStringLiteral("序号"), QStringLiteral("文档名称"), QStringLiteral("任务状态"),
                                       QStringLiteral("数据大小"), QStringLiteral("提交时间"),
                                       QStringLiteral("处理时间"), QStringLiteral("操作")}));
        QCOMPARE(table->columnWidth(0), 50);
        QCOMPARE(table->columnWidth(1), 120);
        QCOMPARE(table->columnWidth(2), 130);
        QCOMPARE(table->columnWidth(3), 80);
        QVERIFY(table->verticalHeader()->isHidden());
        QCOMPARE(dialog.size(), QSize(710, 500));
        const QList<QLabel *> labels = dialog.findChildren<QLabel *>();
        QVERIFY(std::any_of(labels.cbegin(), labels.cend(),
                            [](QLabel *l) { return l->text() == QStringLiteral("P1打印详情"); }));
        refresh(dialog);
        QCOMPARE(table->rowCount(), 0);
    }

    void historyRowsFromDetailFile()
    {
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("D;T1;S;N;T2"));
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("short;only"));
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(rowTexts(table, 0), (QStringList{"1", "D", "S", "N", "T1", "T2"}));
        QCOMPARE(rowTexts(table, 1), (QStringList{"2", "short", "", "", "only", ""}));

        // Two jobs finishing within one second both arrive at the next refresh.
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("E;T3;打印成功;10;T4"));
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("F;T5;打印成功;20;T6"));
        refresh(dialog);
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(rowTexts(table, 2), (QStringList { "3", "E", "打印成功", "10 B", "T3", "T4" }));
        QCOMPARE(rowTexts(table, 3), (QStringList { "4", "F", "打印成功", "20 B", "T5", "T6" }));
    }

    void queuedRowsGiveWayToHistory()
    {
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("old.txt;09:00:00;打印成功;5;09:00:02"));
        QVERIFY(winsim::pausePrinter("P1"));
        QVERIFY(winsim::submitJob("P1", std::string("a.docx"), {1, 2, 3}, utcMs(17, 30, 5)) != 0);
        QVERIFY(winsim::submitJob("P1", std::nullopt, {4}, utcMs(0, 0, 0)) != 0);

        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 1);
        refresh(dialog);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(rowTexts(table, 1), (QStringList{"2", "a.docx", "打印排队中", "----", "01:30:05", "--:--:--"}));
        QCOMPARE(rowTexts(table, 2), (QStringList{"3", "", "打印排队中", "----", "08:00:00", "--:--:--"}));

        // The first job is sent to a receiver that holds the connection: it shows as printing.
        QTcpServer receiver;
        QVERIFY(receiver.listen(QHostAddress::LocalHost, 8101));
        QVERIFY(winsim::resumePrinter("P1"));
        QVERIFY(receiver.waitForNewConnection(20000));
        QTcpSocket *connection = receiver.nextPendingConnection();
        QTRY_VERIFY_WITH_TIMEOUT((refresh(dialog), table->item(1, 2)->text() == QStringLiteral("正在处理")), 10000);
        QCOMPARE(table->item(2, 2)->text(), QStringLiteral("打印排队中"));

        // It ends: its queued row goes and its history row comes; numbers stay consecutive.
        QVERIFY(winsim::pausePrinter("P1"));
        // Taken whole before the close: a close with bytes unread resets the connection, and the
        // spooler would keep the job.
        QTRY_VERIFY_WITH_TIMEOUT(connection->bytesAvailable() >= 3, 10000);
        connection->readAll();
        connection->close();
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("a.docx;01:30:05;打印成功;3;10:00:01"));
        QTRY_VERIFY_WITH_TIMEOUT((refresh(dialog), table->rowCount() == 3
                                                       && table->item(1, 1)->text() == QStringLiteral("a.docx")
                                                       && table->item(1, 2)->text() == QStringLiteral("打印成功")),
                                 10000);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(table->item(row, 0)->text(), QString::number(row + 1));
        QCOMPARE(table->item(2, 2)->text(), QStringLiteral("打印排队中"));
    }

    void tooltipOnlyForCutOffText()
    {
        const QString longName = QStringLiteral("一份名字很长很长很长很长很长很长的文档.docx");
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("a;1;ok;1;2"));
        appendDetailRecord(QLatin1String(kSerial), longName + QStringLiteral(";1;ok;1;2"));
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTableWidget *table = dialog.table();

        QVERIFY(QMetaObject::invokeMethod(&dialog, "slotItemEnter", Q_ARG(QTableWidgetItem *, table->item(0, 1))));
        QVERIFY(!QToolTip::isVisible());
        QVERIFY(QMetaObject::invokeMethod(&dialog, "slotItemEnter", Q_ARG(QTableWidgetItem *, table->item(1, 1))));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), longName);
        // Entering a cell that fits hides the tooltip (Qt lets it fade out).
        QVERIFY(QMetaObject::invokeMethod(&dialog, "slotItemEnter", Q_ARG(QTableWidgetItem *, table->item(0, 1))));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    void namesWithSeparatorsAndRecordsWithoutDescription()
    {
        recordJob(today(), QStringLiteral("预算;草稿.txt;10:00:01"), QStringLiteral("打印成功"), 1234);
        recordJob(today(), QStringLiteral("a!+!b;09:00:00;打印成功;1;09:00:01!+!c.pdf;09:59:59"),
            QStringLiteral("打印成功"), 5);
        recordJob(today(), QString(), QStringLiteral("打印失败:设备离线"), 17);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(rowTexts(table, 0),
            (QStringList { "1", "预算;草稿.txt", "打印成功", "1.2 KB", "10:00:01", "10:00:00" }));
        QCOMPARE(rowTexts(table, 1),
            (QStringList { "2", "a!+ !b;09:00:00;打印成功;1;09:00:01!+ !c.pdf", "打印成功", "5 B", "09:59:59",
                "10:00:00" }));
        QCOMPARE(rowTexts(table, 2), (QStringList { "3", "", "打印失败:设备离线", "17 B", "", "10:00:00" }));
    }

    void sizesReadShortWithExactBytesAtHand()
    {
        const qint64 sizes[] = { 0, 512, 1023, 1024, 1234, 1048575, 3565158, 5368709120LL };
        for (qint64 size : sizes)
            recordJob(today(), QStringLiteral("d.pdf;09:00:00"), QStringLiteral("打印成功"), size);
        // A damaged record's size shows as it stands, without a tooltip.
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("e.pdf;09:00:00;打印成功;12a;10:00:00"));
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QCOMPARE(column(table, 3),
            (QStringList {
                "0 B", "512 B", "1023 B", "1.0 KB", "1.2 KB", "1.0 MB", "3.4 MB", "5.0 GB", "12a" }));
        QStringList tips;
        for (int row = 0; row < table->rowCount(); ++row)
            tips << table->item(row, 3)->toolTip();
        QCOMPARE(tips,
            (QStringList { "0 字节", "512 字节", "1023 字节", "1024 字节", "1234 字节", "1048575 字节",
                "3565158 字节", "5368709120 字节", "" }));
    }

    void yesterdayBehindTheSwitch()
    {
        recordJob(yesterday(), QStringLiteral("晚上.pdf;22:59:00"), QStringLiteral("打印成功"), 10);
        recordJob(yesterday(), QStringLiteral("深夜.pdf;22:59:30"), QStringLiteral("打印失败:设备离线"), 20);
        recordJob(today(), QStringLiteral("早上.pdf;09:00:00"), QStringLiteral("打印成功"), 30);
        QVERIFY(winsim::pausePrinter("P1"));
        QVERIFY(winsim::submitJob("P1", std::string("queued.docx"), { 1, 2, 3 }, utcMs(1, 0, 0)) != 0);

        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QVERIFY(dialog.todayButton()->isChecked());
        QVERIFY(!dialog.yesterdayButton()->isChecked());
        QCOMPARE(dialog.todayButton()->text(), QStringLiteral("今天"));
        QCOMPARE(dialog.yesterdayButton()->text(), QStringLiteral("昨天"));
        refresh(dialog);
        QCOMPARE(column(table, 1), (QStringList { "早上.pdf", "queued.docx" }));

        // Yesterday's file alone: the spooler's queue belongs to today.
        dialog.yesterdayButton()->click();
        QVERIFY(dialog.yesterdayButton()->isChecked());
        QVERIFY(!dialog.todayButton()->isChecked());
        QCOMPARE(column(table, 1), (QStringList { "晚上.pdf", "深夜.pdf" }));
        QCOMPARE(rowTexts(table, 1),
            (QStringList { "2", "深夜.pdf", "打印失败:设备离线", "20 B", "22:59:30", "23:00:00" }));
        refresh(dialog);
        QCOMPARE(column(table, 1), (QStringList { "晚上.pdf", "深夜.pdf" }));

        dialog.todayButton()->click();
        QCOMPARE(column(table, 1), (QStringList { "早上.pdf", "queued.docx" }));
        QCOMPARE(column(table, 0), (QStringList { "1", "2" }));
    }

    void midnightStartsTheNewDay()
    {
        recordJob(today(), QStringLiteral("今天的.pdf;09:00:00"), QStringLiteral("打印成功"), 30);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 1);

        // Past midnight "today" is the new day's file, and the day before is one click away.
        Clock::setFixedForTesting(QDateTime(today().addDays(1), QTime(0, 0, 5)));
        appendJobRecord(
            QLatin1String(kSerial), QStringLiteral("跨夜.pdf;23:59:58"), QStringLiteral("打印成功"), 40);
        refresh(dialog);
        QCOMPARE(column(table, 1), (QStringList { "跨夜.pdf" }));
        QCOMPARE(column(table, 0), (QStringList { "1" }));
        dialog.yesterdayButton()->click();
        QCOMPARE(column(table, 1), (QStringList { "今天的.pdf" }));
    }

    void refreshReadsOnlyWhatWasAppended()
    {
        recordJob(today(), QStringLiteral("一.pdf;09:00:00"), QStringLiteral("打印成功"), 1);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 1);
        QTableWidgetItem *first = table->item(0, 1);

        // A record caught half written waits for the rest.
        const QByteArray next = QStringLiteral("二.pdf;09:01:00;打印成功;2048;10:00:02!+!").toUtf8();
        const QString path = detailFilePath(QLatin1String(kSerial));
        appendBytes(path, next.left(5));
        refresh(dialog);
        QCOMPARE(table->rowCount(), 1);
        appendBytes(path, next.mid(5));
        refresh(dialog);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(rowTexts(table, 1),
            (QStringList { "2", "二.pdf", "打印成功", "2.0 KB", "09:01:00", "10:00:02" }));
        // Rows already shown are left as they are.
        QCOMPARE(table->item(0, 1), first);

        // A file that was replaced is shown again from its start.
        QVERIFY(QFile::remove(path));
        recordJob(today(), QStringLiteral("三.pdf;09:02:00"), QStringLiteral("打印成功"), 3);
        refresh(dialog);
        QCOMPARE(column(table, 1), (QStringList { "三.pdf" }));
    }

    void tooltipStaysWhileTheMouseIsOnItsCell()
    {
        const QString longName = QStringLiteral("一份名字很长很长很长很长很长很长的文档.docx");
        recordJob(today(), longName + QStringLiteral(";09:00:00"), QStringLiteral("打印成功"), 1234);
        recordJob(today(), QStringLiteral("a;09:00:01"), QStringLiteral("打印成功"), 1);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTableWidget *table = dialog.table();
        const QRect cell = table->visualItemRect(table->item(0, 1));
        const QRect other = table->visualItemRect(table->item(1, 1));

        QVERIFY(QMetaObject::invokeMethod(
            &dialog, "slotItemEnter", Q_ARG(QTableWidgetItem *, table->item(0, 1))));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), longName);
        // The view asks for the cell's tooltip once the mouse has rested, and moves within the cell.
        restMouseOn(table, cell.center());
        moveMouseTo(table, cell.topLeft() + QPoint(3, 3));
        restMouseOn(table, cell.topLeft() + QPoint(3, 3));
        // A tip told to hide lingers 300 ms before it goes; give it the time to show that it was
        // (a slow machine can only make this wait too short to notice, never make it fail).
        QTest::qWait(400);
        QVERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), longName);

        // Leaving the cell takes it away.
        moveMouseTo(table, other.center());
        QTRY_VERIFY(!QToolTip::isVisible());

        // The size cell fits, yet holds the exact bytes.
        const QRect size = table->visualItemRect(table->item(0, 3));
        restMouseOn(table, size.center());
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("1234 字节"));
        restMouseOn(table, other.center());
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    // Jobs the program has taken but not yet recorded show where they stand, between the history
    // and the spooler's queue; a failure whose bytes are kept can be sent again from its row, once.
    void outboxJobsShowAndKeptFailuresGoAgain()
    {
        QTemporaryDir folder;
        OutboxJournal journal(folder.filePath(QStringLiteral("outbox.db")), folder.filePath(QStringLiteral("spool")));
        QVERIFY(journal.isOpen());
        // The service cannot be reached: a job sent again waits to be retried, and stays visible.
        setCloudServiceBaseForTesting(QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort()));
        setPostRetryForTesting(50, 100, 60000);
        recordJob(today(), QStringLiteral("printed.pdf;09:00:00"), QStringLiteral("打印成功"), 10);
        const qint64 kept = keepFailedJob(journal, QStringLiteral("报告;预算!+!.xlsx;09:59:00"), "kept bytes",
            QDateTime(today(), QTime(10, 0, 5)));
        QVERIFY(kept != 0);
        // Failed too, but its bytes are gone: nothing to send again.
        const qint64 gone = keepFailedJob(journal, QStringLiteral("gone.txt;09:59:30"), "gone", QDateTime(today(), QTime(10, 0, 7)));
        QVERIFY(QFile::remove(journal.spoolFilePath(gone)));

        PrinterOutbox outbox(printerP1(), &journal);
        const qint64 arriving = journal.addJob(QStringLiteral("P1"), QLatin1String(kSerial), QStringLiteral("草稿.docx;10:00:30"));
        outbox.addArriving(arriving);

        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.setOutbox(&outbox);
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(rowTexts(table, 1), (QStringList { "2", "报告;预算!+ !.xlsx", "打印失败:设备离线", "10 B", "09:59:00", "10:00:05" }));
        QCOMPARE(rowTexts(table, 3), (QStringList { "4", "草稿.docx", "正在接收", "----", "10:00:30", "--:--:--" }));
        QVERIFY(!resendButton(table, 0));
        QVERIFY(!resendButton(table, 2));
        QVERIFY(!resendButton(table, 3));
        QPushButton *button = resendButton(table, 1);
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("重新打印"));

        // Sent again: a new job in line behind the one still arriving; the old row loses its action.
        button->click();
        QCOMPARE(table->rowCount(), 5);
        QVERIFY(!resendButton(table, 1));
        QCOMPARE(rowTexts(table, 4), (QStringList { "5", "报告;预算!+!.xlsx", "等待上传", "10 B", "09:59:00", "--:--:--" }));
        QCOMPARE(outbox.resend(kept), qint64(0));

        // The arriving job does not come; the new one is posted and waits for the service.
        outbox.dropArriving(arriving);
        QTRY_VERIFY_WITH_TIMEOUT((refresh(dialog), table->rowCount() == 4 && rowTexts(table, 3).at(2) == QStringLiteral("等待重试")), 10000);
        QCOMPARE(outbox.jobsInFlight().size(), 1);
        QVERIFY(outbox.jobsInFlight().first().id > gone);
        resetRelaySettingsForTesting();
    }

    // The job the spooler is sending is the one the program is receiving: it shows once.
    void jobBeingReceivedShowsOnce()
    {
        QTemporaryDir folder;
        OutboxJournal journal(folder.filePath(QStringLiteral("outbox.db")), folder.filePath(QStringLiteral("spool")));
        PrinterOutbox outbox(printerP1(), &journal);
        QVERIFY(winsim::submitJob("P1", std::string("a.docx"), { 1, 2, 3 }, utcMs(17, 30, 5)) != 0);
        QVERIFY(winsim::submitJob("P1", std::string("b.docx"), { 4 }, utcMs(17, 31, 0)) != 0);
        QTcpServer receiver;
        QVERIFY(receiver.listen(QHostAddress::LocalHost, 8101));
        QVERIFY(receiver.waitForNewConnection(20000));
        const qint64 arriving = journal.addJob(QStringLiteral("P1"), QLatin1String(kSerial), QStringLiteral("a.docx;01:30:05"));
        outbox.addArriving(arriving);

        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.setOutbox(&outbox);
        QTableWidget *table = dialog.table();
        QTRY_VERIFY_WITH_TIMEOUT((refresh(dialog), table->rowCount() == 2), 10000);
        QCOMPARE(rowTexts(table, 0), (QStringList { "1", "a.docx", "正在接收", "----", "01:30:05", "--:--:--" }));
        QCOMPARE(rowTexts(table, 1), (QStringList { "2", "b.docx", "打印排队中", "----", "01:31:00", "--:--:--" }));
        QVERIFY(winsim::pausePrinter("P1"));
        QTcpSocket *connection = receiver.nextPendingConnection();
        QTRY_VERIFY_WITH_TIMEOUT(connection->bytesAvailable() >= 3, 10000);
        connection->readAll();
        connection->close();
    }
};

QTEST_MAIN(TestSettingsDlg)
#include "tst_settingsdlg.moc"
