// The outbox journal's write-ahead log on a real SQLite file: copied back into the database by a
// thread of its own as it grows, and nothing lost when the journal closes with a copy pending.

#include "outboxjournal.h"
#include "testtiming.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

class TestOutboxJournal : public QObject
{
    Q_OBJECT

private slots:
    void theLogIsCopiedBackAsItGrows();
};

void TestOutboxJournal::theLogIsCopiedBackAsItGrows()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("outbox.db"));
    const QString spool = dir.filePath(QStringLiteral("spool"));
    const QString printer = QStringLiteral("Lab");
    QList<qint64> ids;
    {
        OutboxJournal journal(path, spool);
        QVERIFY(journal.isOpen());
        const qint64 before = QFileInfo(path).size();
        // 160 commits of a page or two each: far fewer pages than SQLite's own limit would ever copy
        // back, so only the journal's own checkpoints can have grown the database.
        for (int i = 0; i < 80; ++i) {
            ids.append(journal.addJob(printer, QStringLiteral("SN"), QStringLiteral("job %1").arg(i)));
            QVERIFY(ids.last() > 0);
            QVERIFY(journal.setReceived(ids.last(), 1000 + i));
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(path).size() > before, TestTiming::scaled(10000));

        // More commits, a checkpoint asked for among them, and the journal closes straight after.
        for (int i = 80; i < 200; ++i) {
            ids.append(journal.addJob(printer, QStringLiteral("SN"), QStringLiteral("job %1").arg(i)));
            QVERIFY(journal.setPosting(ids.last()));
        }
        QVERIFY(journal.setFinal(ids.first(), QStringLiteral("打印成功")));
    }
    // Reopened, every job stands as last committed.
    OutboxJournal journal(path, spool);
    QVERIFY(journal.isOpen());
    const QList<OutboxJob> unfinished = journal.unfinishedJobs(printer);
    QCOMPARE(unfinished.size(), 199);
    QCOMPARE(unfinished.first().id, ids.at(1));
    QCOMPARE(unfinished.first().size, 1001);
    QCOMPARE(unfinished.last().state, OutboxState::Posting);
    QCOMPARE(journal.job(ids.first())->state, OutboxState::Final);
}

QTEST_GUILESS_MAIN(TestOutboxJournal)
#include "tst_outboxjournal.moc"
