#include "clock.h"
#include "closedport.h"
#include "detailfile.h"
#include "detailrecord.h"
#include "jobtablemodel.h"
#include "outboxjournal.h"
#include "printeroutbox.h"
#include "programfolder.h"
#include "scopedprogramwaits.h"
#include "settingsdlg.h"
#include "spoolerfixture.h"
#include "spoolerjobs.h"
#include "testprinters.h"
#include "winsim/winsimcontrol.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>

namespace {

// Expected texts, written as the UTF-8 literals they are.
QStringList utf8List(std::initializer_list<const char *> items)
{
    QStringList list;
    for (const char *item : items)
        list.append(QString::fromUtf8(item));
    return list;
}

const char kSerial[] = "0123456789ABCDEF";

QString cellText(JobTableModel *model, int row, int column)
{
    const QModelIndex index = model->index(row, column);
    return index.isValid() ? index.data().toString() : QStringLiteral("<none>");
}

// The texts of a row's six columns of data (the seventh holds the row's action, if any).
QStringList rowTexts(JobTableModel *model, int row)
{
    QStringList texts;
    for (int column = 0; column < 6; ++column)
        texts << cellText(model, row, column);
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

QStringList column(JobTableModel *model, int column)
{
    QStringList texts;
    for (int row = 0; row < model->rowCount(); ++row)
        texts << cellText(model, row, column);
    return texts;
}

// What the view hands its viewport when the mouse has rested on a point.
void restMouseOn(QTableView *table, const QPoint &pos)
{
    QHelpEvent help(QEvent::ToolTip, pos, table->viewport()->mapToGlobal(pos));
    QApplication::sendEvent(table->viewport(), &help);
}

void moveMouseTo(QTableView *table, const QPoint &pos)
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
qint64 keepFailedJob(
    OutboxJournal &journal, const QString &jobneed, const QByteArray &bytes, const QDateTime &end)
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

QPushButton *resendButton(SettingsDlg &dialog, int row)
{
    return qobject_cast<QPushButton *>(dialog.table()->indexWidget(dialog.model()->index(row, 6)));
}

bool enterCell(SettingsDlg &dialog, int row, int column)
{
    return QMetaObject::invokeMethod(
        &dialog, "slotItemEnter", Q_ARG(QModelIndex, dialog.model()->index(row, column)));
}

JobTableRow queuedRow(const QString &document, bool printing = false)
{
    SpoolerJob job;
    job.document = document;
    job.printing = printing;
    return JobTableRow::queued(job);
}

JobTableRow finishedRow(const QString &document)
{
    return JobTableRow::finished(
        DetailRecord::fromText(document + QStringLiteral(";09:00:00;打印成功;10;09:00:01")));
}

// The first and last row each signal of a spy names, in order.
QList<QPair<int, int>> rowRanges(const QSignalSpy &spy)
{
    QList<QPair<int, int>> ranges;
    for (const QList<QVariant> &arguments : spy) {
        // Rows inserted or removed: (parent, first, last); data changed: (top left, bottom right, roles).
        if (arguments.at(1).userType() == QMetaType::Int)
            ranges.append({ arguments.at(1).toInt(), arguments.at(2).toInt() });
        else
            ranges.append({ arguments.at(0).toModelIndex().row(), arguments.at(1).toModelIndex().row() });
    }
    return ranges;
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
        QVERIFY(
            winsim::installDriver(TestPrinters::kDriver, TestPrinters::kEnvironment, TestPrinters::kVersion));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("P1"), 1, QLatin1String(kSerial)));
    }

    void cleanup() { QCOMPARE(winsim::openHandleCount(), 0); }

    void emptyHistoryAndQueue()
    {
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        JobTableModel *table = dialog.model();
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(table->columnCount(), 7);
        QStringList headers;
        for (int column = 0; column < 7; ++column)
            headers << table->headerData(column, Qt::Horizontal).toString();
        QCOMPARE(headers,
            (QStringList { QStringLiteral("序号"), QStringLiteral("文档名称"), QStringLiteral("任务状态"),
                QStringLiteral("数据大小"), QStringLiteral("提交时间"), QStringLiteral("处理时间"),
                QStringLiteral("操作") }));
        QTableView *view = dialog.table();
        QCOMPARE(view->model(), table);
        QCOMPARE(view->horizontalHeader()->count(), 7);
        QCOMPARE(view->columnWidth(0), 50);
        QCOMPARE(view->columnWidth(1), 120);
        QCOMPARE(view->columnWidth(2), 130);
        QCOMPARE(view->columnWidth(3), 80);
        QVERIFY(view->verticalHeader()->isHidden());
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
        JobTableModel *table = dialog.model();
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(rowTexts(table, 0), (utf8List({ "1", "D", "S", "N", "T1", "T2" })));
        QCOMPARE(rowTexts(table, 1), (utf8List({ "2", "short", "", "", "only", "" })));

        // Two jobs finishing within one second both arrive at the next refresh.
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("E;T3;打印成功;10;T4"));
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("F;T5;打印成功;20;T6"));
        refresh(dialog);
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(rowTexts(table, 2), (utf8List({ "3", "E", "打印成功", "10 B", "T3", "T4" })));
        QCOMPARE(rowTexts(table, 3), (utf8List({ "4", "F", "打印成功", "20 B", "T5", "T6" })));
    }

    void queuedRowsGiveWayToHistory()
    {
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("old.txt;09:00:00;打印成功;5;09:00:02"));
        QVERIFY(winsim::pausePrinter("P1"));
        QVERIFY(winsim::submitJob("P1", std::string("a.docx"), { 1, 2, 3 }, utcMs(17, 30, 5)) != 0);
        QVERIFY(winsim::submitJob("P1", std::nullopt, { 4 }, utcMs(0, 0, 0)) != 0);

        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        JobTableModel *table = dialog.model();
        QCOMPARE(table->rowCount(), 1);
        refresh(dialog);
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(
            rowTexts(table, 1), (utf8List({ "2", "a.docx", "打印排队中", "----", "01:30:05", "--:--:--" })));
        QCOMPARE(rowTexts(table, 2), (utf8List({ "3", "", "打印排队中", "----", "08:00:00", "--:--:--" })));

        // The first job is sent to a receiver that holds the connection: it shows as printing.
        QTcpServer receiver;
        QVERIFY(receiver.listen(QHostAddress::LocalHost, 8101));
        QVERIFY(winsim::resumePrinter("P1"));
        QVERIFY(receiver.waitForNewConnection(20000));
        QTcpSocket *connection = receiver.nextPendingConnection();
        QTRY_VERIFY_WITH_TIMEOUT(
            (refresh(dialog), cellText(table, 1, 2) == QStringLiteral("正在处理")), 10000);
        QCOMPARE(cellText(table, 2, 2), QStringLiteral("打印排队中"));

        // It ends: its queued row goes and its history row comes; numbers stay consecutive.
        QVERIFY(winsim::pausePrinter("P1"));
        // Taken whole before the close: a close with bytes unread resets the connection, and the
        // spooler would keep the job.
        QTRY_VERIFY_WITH_TIMEOUT(connection->bytesAvailable() >= 3, 10000);
        connection->readAll();
        connection->close();
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("a.docx;01:30:05;打印成功;3;10:00:01"));
        QTRY_VERIFY_WITH_TIMEOUT(
            (refresh(dialog),
                table->rowCount() == 3 && cellText(table, 1, 1) == QStringLiteral("a.docx")
                    && cellText(table, 1, 2) == QStringLiteral("打印成功")),
            10000);
        for (int row = 0; row < 3; ++row)
            QCOMPARE(cellText(table, row, 0), QString::number(row + 1));
        QCOMPARE(cellText(table, 2, 2), QStringLiteral("打印排队中"));
    }

    void tooltipOnlyForCutOffText()
    {
        const QString longName = QStringLiteral("一份名字很长很长很长很长很长很长的文档.docx");
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("a;1;ok;1;2"));
        appendDetailRecord(QLatin1String(kSerial), longName + QStringLiteral(";1;ok;1;2"));
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QVERIFY(enterCell(dialog, 0, 1));
        QVERIFY(!QToolTip::isVisible());
        QVERIFY(enterCell(dialog, 1, 1));
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), longName);
        // Entering a cell that fits hides the tooltip (Qt lets it fade out).
        QVERIFY(enterCell(dialog, 0, 1));
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    void namesWithSeparatorsAndRecordsWithoutDescription()
    {
        recordJob(today(), QStringLiteral("预算;草稿.txt;10:00:01"), QStringLiteral("打印成功"), 1234);
        recordJob(today(), QStringLiteral("a!+!b;09:00:00;打印成功;1;09:00:01!+!c.pdf;09:59:59"),
            QStringLiteral("打印成功"), 5);
        recordJob(today(), QString(), QStringLiteral("打印失败:设备离线"), 17);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        JobTableModel *table = dialog.model();
        QCOMPARE(table->rowCount(), 3);
        QCOMPARE(rowTexts(table, 0),
            (utf8List({ "1", "预算;草稿.txt", "打印成功", "1.2 KB", "10:00:01", "10:00:00" })));
        QCOMPARE(rowTexts(table, 1),
            (utf8List({ "2", "a!+ !b;09:00:00;打印成功;1;09:00:01!+ !c.pdf", "打印成功", "5 B", "09:59:59",
                "10:00:00" })));
        QCOMPARE(rowTexts(table, 2), (utf8List({ "3", "", "打印失败:设备离线", "17 B", "", "10:00:00" })));
    }

    void sizesReadShortWithExactBytesAtHand()
    {
        const qint64 sizes[] = { 0, 512, 1023, 1024, 1234, 1048575, 3565158, 5368709120LL };
        for (qint64 size : sizes)
            recordJob(today(), QStringLiteral("d.pdf;09:00:00"), QStringLiteral("打印成功"), size);
        // A damaged record's size shows as it stands, without a tooltip.
        appendDetailRecord(QLatin1String(kSerial), QStringLiteral("e.pdf;09:00:00;打印成功;12a;10:00:00"));
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        JobTableModel *table = dialog.model();
        QCOMPARE(column(table, 3),
            (utf8List(
                { "0 B", "512 B", "1023 B", "1.0 KB", "1.2 KB", "1.0 MB", "3.4 MB", "5.0 GB", "12a" })));
        QStringList tips;
        for (int row = 0; row < table->rowCount(); ++row)
            tips << table->index(row, 3).data(Qt::ToolTipRole).toString();
        QCOMPARE(tips,
            (utf8List({ "0 字节", "512 字节", "1023 字节", "1024 字节", "1234 字节", "1048575 字节",
                "3565158 字节", "5368709120 字节", "" })));
    }

    void yesterdayBehindTheSwitch()
    {
        recordJob(yesterday(), QStringLiteral("晚上.pdf;22:59:00"), QStringLiteral("打印成功"), 10);
        recordJob(yesterday(), QStringLiteral("深夜.pdf;22:59:30"), QStringLiteral("打印失败:设备离线"), 20);
        recordJob(today(), QStringLiteral("早上.pdf;09:00:00"), QStringLiteral("打印成功"), 30);
        QVERIFY(winsim::pausePrinter("P1"));
        QVERIFY(winsim::submitJob("P1", std::string("queued.docx"), { 1, 2, 3 }, utcMs(1, 0, 0)) != 0);

        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        JobTableModel *table = dialog.model();
        QVERIFY(dialog.todayButton()->isChecked());
        QVERIFY(!dialog.yesterdayButton()->isChecked());
        QCOMPARE(dialog.todayButton()->text(), QStringLiteral("今天"));
        QCOMPARE(dialog.yesterdayButton()->text(), QStringLiteral("昨天"));
        refresh(dialog);
        QCOMPARE(column(table, 1), (utf8List({ "早上.pdf", "queued.docx" })));

        // Yesterday's file alone: the spooler's queue belongs to today.
        dialog.yesterdayButton()->click();
        QVERIFY(dialog.yesterdayButton()->isChecked());
        QVERIFY(!dialog.todayButton()->isChecked());
        QCOMPARE(column(table, 1), (utf8List({ "晚上.pdf", "深夜.pdf" })));
        QCOMPARE(rowTexts(table, 1),
            (utf8List({ "2", "深夜.pdf", "打印失败:设备离线", "20 B", "22:59:30", "23:00:00" })));
        refresh(dialog);
        QCOMPARE(column(table, 1), (utf8List({ "晚上.pdf", "深夜.pdf" })));

        dialog.todayButton()->click();
        QCOMPARE(column(table, 1), (utf8List({ "早上.pdf", "queued.docx" })));
        QCOMPARE(column(table, 0), (utf8List({ "1", "2" })));
    }

    void midnightStartsTheNewDay()
    {
        recordJob(today(), QStringLiteral("今天的.pdf;09:00:00"), QStringLiteral("打印成功"), 30);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        JobTableModel *table = dialog.model();
        QCOMPARE(table->rowCount(), 1);

        // Past midnight "today" is the new day's file, and the day before is one click away.
        Clock::setFixedForTesting(QDateTime(today().addDays(1), QTime(0, 0, 5)));
        appendJobRecord(
            QLatin1String(kSerial), QStringLiteral("跨夜.pdf;23:59:58"), QStringLiteral("打印成功"), 40);
        refresh(dialog);
        QCOMPARE(column(table, 1), (utf8List({ "跨夜.pdf" })));
        QCOMPARE(column(table, 0), (utf8List({ "1" })));
        dialog.yesterdayButton()->click();
        QCOMPARE(column(table, 1), (utf8List({ "今天的.pdf" })));
    }

    void refreshReadsOnlyWhatWasAppended()
    {
        recordJob(today(), QStringLiteral("一.pdf;09:00:00"), QStringLiteral("打印成功"), 1);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        JobTableModel *table = dialog.model();
        QCOMPARE(table->rowCount(), 1);
        const QPersistentModelIndex first = table->index(0, 1);
        QSignalSpy changed(table, &JobTableModel::dataChanged);
        QSignalSpy removed(table, &JobTableModel::rowsRemoved);

        // A record caught half written waits for the rest.
        const QByteArray next = QStringLiteral("二.pdf;09:01:00;打印成功;2048;10:00:02!+!").toUtf8();
        const QString path = detailFilePath(QLatin1String(kSerial));
        appendBytes(path, next.left(5));
        refresh(dialog);
        QCOMPARE(table->rowCount(), 1);
        appendBytes(path, next.mid(5));
        refresh(dialog);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(
            rowTexts(table, 1), (utf8List({ "2", "二.pdf", "打印成功", "2.0 KB", "09:01:00", "10:00:02" })));
        // Rows already shown are left as they are.
        QCOMPARE(first.row(), 0);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(removed.count(), 0);

        // A file that was replaced is shown again from its start.
        QVERIFY(QFile::remove(path));
        recordJob(today(), QStringLiteral("三.pdf;09:02:00"), QStringLiteral("打印成功"), 3);
        refresh(dialog);
        QCOMPARE(column(table, 1), (utf8List({ "三.pdf" })));
    }

    void tooltipStaysWhileTheMouseIsOnItsCell()
    {
        const QString longName = QStringLiteral("一份名字很长很长很长很长很长很长的文档.docx");
        recordJob(today(), longName + QStringLiteral(";09:00:00"), QStringLiteral("打印成功"), 1234);
        recordJob(today(), QStringLiteral("a;09:00:01"), QStringLiteral("打印成功"), 1);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTableView *table = dialog.table();
        const QRect cell = table->visualRect(dialog.model()->index(0, 1));
        const QRect other = table->visualRect(dialog.model()->index(1, 1));

        QVERIFY(enterCell(dialog, 0, 1));
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
        const QRect size = table->visualRect(dialog.model()->index(0, 3));
        restMouseOn(table, size.center());
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("1234 字节"));
        restMouseOn(table, other.center());
        QTRY_VERIFY(!QToolTip::isVisible());
    }

    // The header keeps its own look, bold on its gradient, not the panel's plain one.
    void headerKeepsItsLook()
    {
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QHeaderView *header = dialog.table()->horizontalHeader();
        QVERIFY(header->font().bold());
        // The gradient starts at #ff64ff at the top.
        const QColor top = header->grab().toImage().pixelColor(10, 2);
        QVERIFY2(top.red() > 200 && top.green() < 160 && top.blue() > 200, qPrintable(top.name()));
    }

    // The rows after the history change in place: what stayed is not told as changed, only the rows
    // that came or went at the end are, and the history rows before them are never touched.
    void tailChangesTouchOnlyWhatChanged()
    {
        JobTableModel model;
        model.appendHistory({ finishedRow(QStringLiteral("h1")), finishedRow(QStringLiteral("h2")) });
        const QPersistentModelIndex history(model.index(1, 1));
        QSignalSpy inserted(&model, &JobTableModel::rowsInserted);
        QSignalSpy removed(&model, &JobTableModel::rowsRemoved);
        QSignalSpy changed(&model, &JobTableModel::dataChanged);
        QSignalSpy reset(&model, &JobTableModel::modelReset);

        model.setTail({ queuedRow(QStringLiteral("q1")), queuedRow(QStringLiteral("q2")),
            queuedRow(QStringLiteral("q3")) });
        QCOMPARE(rowRanges(inserted), (QList<QPair<int, int>> { { 2, 4 } }));
        QCOMPARE(column(&model, 1), (utf8List({ "h1", "h2", "q1", "q2", "q3" })));

        // q1 is printing now and q3 left: one row changed, one went.
        inserted.clear();
        model.setTail({ queuedRow(QStringLiteral("q1"), true), queuedRow(QStringLiteral("q2")) });
        QCOMPARE(rowRanges(changed), (QList<QPair<int, int>> { { 2, 2 } }));
        QCOMPARE(rowRanges(removed), (QList<QPair<int, int>> { { 4, 4 } }));
        QCOMPARE(inserted.count(), 0);
        QCOMPARE(cellText(&model, 2, 2), QStringLiteral("正在处理"));

        // The same rows again: nothing to tell.
        changed.clear();
        removed.clear();
        model.setTail({ queuedRow(QStringLiteral("q1"), true), queuedRow(QStringLiteral("q2")) });
        QCOMPARE(changed.count() + removed.count() + inserted.count(), 0);

        // q1 finished: its record joins the history before the rows after it, numbered in turn.
        model.appendHistory({ finishedRow(QStringLiteral("q1")) });
        QCOMPARE(rowRanges(inserted), (QList<QPair<int, int>> { { 2, 2 } }));
        model.setTail({ queuedRow(QStringLiteral("q2")), queuedRow(QStringLiteral("q4")),
            queuedRow(QStringLiteral("q5")) });
        QCOMPARE(column(&model, 1), (utf8List({ "h1", "h2", "q1", "q2", "q4", "q5" })));
        QCOMPARE(column(&model, 0), (utf8List({ "1", "2", "3", "4", "5", "6" })));
        QCOMPARE(column(&model, 2).at(2), QStringLiteral("打印成功"));
        for (const QPair<int, int> &range : rowRanges(changed) + rowRanges(removed))
            QVERIFY2(range.first >= model.historyCount(), "a history row was touched");
        QCOMPARE(history.row(), 1);
        QCOMPARE(history.data().toString(), QStringLiteral("h2"));
        QCOMPARE(reset.count(), 0);

        model.setTail({});
        QCOMPARE(column(&model, 1), (utf8List({ "h1", "h2", "q1" })));
        QCOMPARE(model.historyCount(), 3);
        model.clearHistory();
        QCOMPARE(model.rowCount(), 0);
        QVERIFY(!history.isValid());
    }

    // The queue growing and shrinking under the dialog leaves the history rows and their numbers.
    void queueGrowingKeepsHistoryRows()
    {
        recordJob(today(), QStringLiteral("done.pdf;09:00:00"), QStringLiteral("打印成功"), 10);
        QVERIFY(winsim::pausePrinter("P1"));
        QVERIFY(winsim::submitJob("P1", std::string("a.docx"), { 1 }, utcMs(1, 0, 0)) != 0);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        JobTableModel *table = dialog.model();
        refresh(dialog);
        QCOMPARE(column(table, 1), (utf8List({ "done.pdf", "a.docx" })));

        QSignalSpy changed(table, &JobTableModel::dataChanged);
        QVERIFY(winsim::submitJob("P1", std::string("b.docx"), { 2 }, utcMs(1, 0, 1)) != 0);
        QVERIFY(winsim::submitJob("P1", std::string("c.docx"), { 3 }, utcMs(1, 0, 2)) != 0);
        refresh(dialog);
        QCOMPARE(column(table, 1), (utf8List({ "done.pdf", "a.docx", "b.docx", "c.docx" })));
        QCOMPARE(column(table, 0), (utf8List({ "1", "2", "3", "4" })));
        QCOMPARE(changed.count(), 0);

        // Yesterday holds no queue: the rows after the history go, the history is the other day's.
        dialog.yesterdayButton()->click();
        QCOMPARE(table->rowCount(), 0);
        dialog.todayButton()->click();
        QCOMPARE(column(table, 1), (utf8List({ "done.pdf", "a.docx", "b.docx", "c.docx" })));
    }

    // A long day read in one go: every record a row, numbered to the end, the last one in view.
    void longDayOpensAtItsEnd()
    {
        constexpr int kRecords = 10000;
        QByteArray bytes;
        for (int i = 0; i < kRecords; ++i) {
            bytes += encodeDetailRecord(jobDetailRecord(QStringLiteral("doc-%1.pdf;09:00:00").arg(i),
                                            QStringLiteral("打印成功"), i, QStringLiteral("09:00:01"))
                + detailRecordSeparator());
        }
        appendBytes(detailFilePath(QLatin1String(kSerial)), bytes);
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        JobTableModel *model = dialog.model();
        QCOMPARE(model->rowCount(), kRecords);
        QCOMPARE(rowTexts(model, kRecords - 1),
            (utf8List({ "10000", "doc-9999.pdf", "打印成功", "9.8 KB", "09:00:00", "09:00:01" })));
        QTableView *view = dialog.table();
        QTRY_VERIFY(view->viewport()->rect().contains(view->visualRect(model->index(kRecords - 1, 0))));

        // One more record: it comes at the end, in view as well.
        recordJob(today(), QStringLiteral("last.pdf;09:30:00"), QStringLiteral("打印成功"), 1);
        refresh(dialog);
        QCOMPARE(model->rowCount(), kRecords + 1);
        QCOMPARE(cellText(model, kRecords, 0), QStringLiteral("10001"));
        QTRY_VERIFY(view->viewport()->rect().contains(view->visualRect(model->index(kRecords, 1))));
    }

    // Jobs the program has taken but not yet recorded show where they stand, between the history
    // and the spooler's queue; a failure whose bytes are kept can be sent again from its row, once.
    void outboxJobsShowAndKeptFailuresGoAgain()
    {
        QTemporaryDir folder;
        OutboxJournal journal(
            folder.filePath(QStringLiteral("outbox.db")), folder.filePath(QStringLiteral("spool")));
        QVERIFY(journal.isOpen());
        // The service cannot be reached: a job sent again waits to be retried, and stays visible.
        ProgramWaits waits = ProgramWaits::current();
        waits.cloudServiceBase = QStringLiteral("http://127.0.0.1:%1").arg(closedLoopbackPort());
        waits.postRetryFirstDelayMs = 50;
        waits.postRetryMaxDelayMs = 100;
        waits.postRetryGiveUpMs = 60000;
        const ScopedProgramWaits unreachableService(waits);
        recordJob(today(), QStringLiteral("printed.pdf;09:00:00"), QStringLiteral("打印成功"), 10);
        const qint64 kept = keepFailedJob(journal, QStringLiteral("报告;预算!+!.xlsx;09:59:00"), "kept bytes",
            QDateTime(today(), QTime(10, 0, 5)));
        QVERIFY(kept != 0);
        // Failed too, but its bytes are gone: nothing to send again.
        const qint64 gone = keepFailedJob(
            journal, QStringLiteral("gone.txt;09:59:30"), "gone", QDateTime(today(), QTime(10, 0, 7)));
        QVERIFY(QFile::remove(journal.spoolFilePath(gone)));

        PrinterOutbox outbox(printerP1(), &journal);
        const qint64 arriving = journal.addJob(
            QStringLiteral("P1"), QLatin1String(kSerial), QStringLiteral("草稿.docx;10:00:30"));
        outbox.addArriving(arriving);

        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.setOutbox(&outbox);
        JobTableModel *table = dialog.model();
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(rowTexts(table, 1),
            (utf8List({ "2", "报告;预算!+ !.xlsx", "打印失败:设备离线", "10 B", "09:59:00", "10:00:05" })));
        QCOMPARE(
            rowTexts(table, 3), (utf8List({ "4", "草稿.docx", "正在接收", "----", "10:00:30", "--:--:--" })));
        QVERIFY(!resendButton(dialog, 0));
        QVERIFY(!resendButton(dialog, 2));
        QVERIFY(!resendButton(dialog, 3));
        QPushButton *button = resendButton(dialog, 1);
        QVERIFY(button);
        QCOMPARE(button->text(), QStringLiteral("重新打印"));

        // Sent again: a new job in line behind the one still arriving; the old row loses its action.
        button->click();
        QCOMPARE(table->rowCount(), 5);
        QVERIFY(!resendButton(dialog, 1));
        QCOMPARE(rowTexts(table, 4),
            (utf8List({ "5", "报告;预算!+!.xlsx", "等待上传", "10 B", "09:59:00", "--:--:--" })));
        QCOMPARE(outbox.resend(kept), qint64(0));

        // The arriving job does not come; the new one is posted and waits for the service.
        outbox.dropArriving(arriving);
        QTRY_VERIFY_WITH_TIMEOUT(
            (refresh(dialog),
                table->rowCount() == 4 && rowTexts(table, 3).at(2) == QStringLiteral("等待重试")),
            10000);
        QCOMPARE(outbox.jobsInFlight().size(), 1);
        QVERIFY(outbox.jobsInFlight().first().id > gone);
    }

    // The job the spooler is sending is the one the program is receiving: it shows once.
    void jobBeingReceivedShowsOnce()
    {
        QTemporaryDir folder;
        OutboxJournal journal(
            folder.filePath(QStringLiteral("outbox.db")), folder.filePath(QStringLiteral("spool")));
        PrinterOutbox outbox(printerP1(), &journal);
        QVERIFY(winsim::submitJob("P1", std::string("a.docx"), { 1, 2, 3 }, utcMs(17, 30, 5)) != 0);
        QVERIFY(winsim::submitJob("P1", std::string("b.docx"), { 4 }, utcMs(17, 31, 0)) != 0);
        QTcpServer receiver;
        QVERIFY(receiver.listen(QHostAddress::LocalHost, 8101));
        QVERIFY(receiver.waitForNewConnection(20000));
        const qint64 arriving
            = journal.addJob(QStringLiteral("P1"), QLatin1String(kSerial), QStringLiteral("a.docx;01:30:05"));
        outbox.addArriving(arriving);

        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        dialog.setOutbox(&outbox);
        JobTableModel *table = dialog.model();
        QTRY_VERIFY_WITH_TIMEOUT((refresh(dialog), table->rowCount() == 2), 10000);
        QCOMPARE(
            rowTexts(table, 0), (utf8List({ "1", "a.docx", "正在接收", "----", "01:30:05", "--:--:--" })));
        QCOMPARE(
            rowTexts(table, 1), (utf8List({ "2", "b.docx", "打印排队中", "----", "01:31:00", "--:--:--" })));
        QVERIFY(winsim::pausePrinter("P1"));
        QTcpSocket *connection = receiver.nextPendingConnection();
        QTRY_VERIFY_WITH_TIMEOUT(connection->bytesAvailable() >= 3, 10000);
        connection->readAll();
        connection->close();
    }
};

QTEST_MAIN(TestSettingsDlg)
#include "tst_settingsdlg.moc"
