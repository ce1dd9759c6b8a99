#include "clock.h"
#include "detailfile.h"
#include "programfolder.h"
#include "settingsdlg.h"
#include "spoolerfixture.h"
#include "winsim/winsimcontrol.h"

#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QToolTip>

namespace {

const char kSerial[] = "0123456789ABCDEF";

QStringList rowTexts(QTableWidget *table, int row)
{
    QStringList texts;
    for (int column = 0; column < table->columnCount(); ++column) {
        const QTableWidgetItem *item = table->item(row, column);
        texts << (item ? item->text() : QStringLiteral("<none>"));
    }
    return texts;
}

void refresh(SettingsDlg &dialog)
{
    QVERIFY(QMetaObject::invokeMethod(&dialog, "on_Timeout"));
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
    void initTestCase()
    {
        QVERIFY(ProgramFolder::install());
        Clock::setFixedForTesting(QDateTime(QDate(2026, 12, 7), QTime(10, 0)));
    }

    void init()
    {
        QVERIFY(winsim::reset());
        QFile::remove(detailFilePath(QLatin1String(kSerial)));
        QVERIFY(winsim::installDriver("Varn VN-210K", "Windows x64", "1.0.0.0"));
        QVERIFY(SpoolerFixture::addCloudPrinter(QStringLiteral("P1"), 1, QLatin1String(kSerial)));
    }

    void cleanup() { QCOMPARE(winsim::openHandleCount(), 0); }

    void emptyHistoryAndQueue()
    {
        SettingsDlg dialog(QStringLiteral("P1"), QLatin1String(kSerial));
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 0);
        QCOMPARE(table->columnCount(), 6);
        QStringList headers;
        for (int column = 0; column < 6; ++column)
            headers << table->horizontalHeaderItem(column)->text();
        QCOMPARE(headers, (QStringList{QStringLiteral("序号"), QStringLiteral("文档名称"), QStringLiteral("任务状态"),
                                       QStringLiteral("数据大小"), QStringLiteral("提交时间"),
                                       QStringLiteral("处理时间")}));
        QCOMPARE(table->columnWidth(0), 50);
        QCOMPARE(table->columnWidth(1), 120);
        QCOMPARE(table->columnWidth(2), 160);
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
        QCOMPARE(rowTexts(table, 2), (QStringList{"3", "E", "打印成功", "10 B", "T3", "T4"}));
        QCOMPARE(rowTexts(table, 3), (QStringList{"4", "F", "打印成功", "20 B", "T5", "T6"}));
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
};

QTEST_MAIN(TestSettingsDlg)
#include "tst_settingsdlg.moc"
