#include <QDir>
#include <QFileInfo>
#include <QList>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QVariant>
#include <QtTest>

#include <memory>

#include "driverinfo.h"
#include "logcapture.h"
#include "printerrecordstore.h"
#include "testprinters.h"

namespace {

const char kReadBack[] = "readback";

QString sn0()
{
    return QStringLiteral("0123456789ABCDEF");
}
QString sn1()
{
    return QStringLiteral("00000000000000B2");
}
QString sn2()
{
    return QStringLiteral("1111111111111111");
}

// A row of table driver as another connection sees it.
struct StoredRow
{
    QString printer_name;
    QString driver_name;
    QString cloud_sn;
    QString port_name;
    QVariant port_num;
    QString portNumType;
    QString ip;
    QString ts;
};

DriverInfo makeInfo(const QString &name, const QString &sn, quint16 port)
{
    DriverInfo info;
    info.printer_name = name;
    info.cloud_sn = sn;
    info.port_name = QStringLiteral("REDadez_%1").arg(port);
    info.port_num = port;
    info.driver_name = TestPrinters::driverName();
    info.ip = QStringLiteral("127.0.0.1");
    return info;
}

} // namespace

// Passes values across a thread boundary through connections made by signature text, which is the
// way that needs the types registered by name.
class Emitter : public QObject
{
    Q_OBJECT
signals:
    void result(bool ret, const QString &msg, const DriverInfo &driverinfo);
    void listed(const QList<DriverInfo> &infos);
};

class Receiver : public QObject
{
    Q_OBJECT
public:
    DriverInfo received;
    QList<DriverInfo> receivedList;
    int calls = 0;
    QThread *deliveredIn = nullptr;
public slots:
    void onResult(bool, const QString &, const DriverInfo &driverinfo)
    {
        received = driverinfo;
        deliveredIn = QThread::currentThread();
        ++calls;
    }
    void onListed(const QList<DriverInfo> &infos)
    {
        receivedList = infos;
        ++calls;
    }
};

class TestPrinterRecordStore : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void driverInfoKeepsFieldOrderAndCopies();
    void driverInfoCrossesThreadsInQueuedSignals();

    void firstInsertCreatesFileAndTable();
    void duplicateNameIsRefusedAndRowUnchanged();
    void awkwardNamesRoundTrip_data();
    void awkwardNamesRoundTrip();
    void unknownNameDeleteAndUpdateChangeNothing();
    void deleteAndUpdateFailBeforeTableExists();
    void portNumberStoredAsDecimalInteger_data();
    void portNumberStoredAsDecimalInteger();
    void unopenableDatabaseFailsEveryOperation();
    void failedCreateInsertsNothing();

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("task.db")); }
    // Runs one statement on a connection of its own, as any other reader of task.db would.
    QList<QVariantList> queryOther(
        const QString &sql, const QVariantList &binds = {}, bool *ok = nullptr) const;
    QList<StoredRow> readRows(const QString &where = QString(), const QString &bound = QString()) const;
    int countRows() const { return readRows().size(); }
    bool driverTableExists() const;
    static bool defaultConnectionOpen();

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_startDir;
};

void TestPrinterRecordStore::init()
{
    m_startDir = QDir::currentPath();
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
}

void TestPrinterRecordStore::cleanup()
{
    QDir::setCurrent(m_startDir);
    m_dir.reset();
}

QList<QVariantList> TestPrinterRecordStore::queryOther(
    const QString &sql, const QVariantList &binds, bool *ok) const
{
    QList<QVariantList> rows;
    bool done = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QLatin1String(kReadBack));
        db.setDatabaseName(dbPath());
        if (db.open()) {
            QSqlQuery query(db);
            done = query.prepare(sql);
            for (const QVariant &value : binds)
                query.addBindValue(value);
            done = done && query.exec();
            while (done && query.next()) {
                QVariantList row;
                for (int i = 0; i < query.record().count(); ++i)
                    row.append(query.value(i));
                rows.append(row);
            }
            query.finish();
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(QLatin1String(kReadBack));
    if (ok)
        *ok = done;
    return rows;
}

QList<StoredRow> TestPrinterRecordStore::readRows(const QString &where, const QString &bound) const
{
    const QString sql = QStringLiteral("select printer_name, driver_name, cloud_sn, port_name, port_num, "
                                       "typeof(port_num), ip, ts from driver ")
        + where + QStringLiteral(" order by id");
    QList<StoredRow> rows;
    const QList<QVariantList> found
        = queryOther(sql, bound.isNull() ? QVariantList() : QVariantList { bound });
    for (const QVariantList &v : found) {
        rows.append({ v[0].toString(), v[1].toString(), v[2].toString(), v[3].toString(), v[4],
            v[5].toString(), v[6].toString(), v[7].toString() });
    }
    return rows;
}

bool TestPrinterRecordStore::driverTableExists() const
{
    return !queryOther(QStringLiteral("select 1 from sqlite_master where type = 'table' and name = 'driver'"))
                .isEmpty();
}

bool TestPrinterRecordStore::defaultConnectionOpen()
{
    return QSqlDatabase::database(QLatin1String(QSqlDatabase::defaultConnection), false).isOpen();
}

void TestPrinterRecordStore::driverInfoKeepsFieldOrderAndCopies()
{
    const DriverInfo empty;
    QVERIFY(empty.printer_name.isEmpty() && empty.cloud_sn.isEmpty() && empty.port_name.isEmpty()
        && empty.driver_name.isEmpty() && empty.ip.isEmpty());

    // Brace initialisation follows the declaration order, so this pins the field order down.
    const DriverInfo info { QStringLiteral("Office"), sn0(), QStringLiteral("REDadez_9100"), 9100,
        TestPrinters::driverName(), QStringLiteral("127.0.0.1") };
    QCOMPARE(info.printer_name, QStringLiteral("Office"));
    QCOMPARE(info.cloud_sn, sn0());
    QCOMPARE(info.port_name, QStringLiteral("REDadez_9100"));
    QCOMPARE(info.port_num, quint16(9100));
    QCOMPARE(info.driver_name, TestPrinters::driverName());
    QCOMPARE(info.ip, QStringLiteral("127.0.0.1"));

    DriverInfo copy = info;
    QVERIFY(copy == info);
    copy.port_num = 9101;
    QVERIFY(copy != info);
    QCOMPARE(info.port_num, quint16(9100));
}

void TestPrinterRecordStore::driverInfoCrossesThreadsInQueuedSignals()
{
    registerDriverInfoMetaType();
    QVERIFY(QMetaType::type("DriverInfo") != QMetaType::UnknownType);
    QVERIFY(QMetaType::type("QList<DriverInfo>") != QMetaType::UnknownType);

    Emitter emitter;
    Receiver receiver;
    QVERIFY(connect(&emitter, SIGNAL(result(bool, QString, DriverInfo)), &receiver,
        SLOT(onResult(bool, QString, DriverInfo)), Qt::QueuedConnection));
    QVERIFY(connect(&emitter, SIGNAL(listed(QList<DriverInfo>)), &receiver, SLOT(onListed(QList<DriverInfo>)),
        Qt::QueuedConnection));

    const DriverInfo first = makeInfo(QStringLiteral("Front desk"), sn0(), 9100);
    const DriverInfo second = makeInfo(QStringLiteral("Back office"), sn1(), 65535);
    QThread *worker = QThread::create([&] {
        DriverInfo local = first;
        emit emitter.result(true, QStringLiteral("ok"), local);
        // The copy in flight must not depend on the sender's object staying alive or unchanged.
        local.printer_name = QStringLiteral("changed after emit");
        emit emitter.listed(QList<DriverInfo> { first, second });
    });
    worker->start();
    QVERIFY(worker->wait(10000));
    delete worker;

    QTRY_COMPARE(receiver.calls, 2);
    QVERIFY(receiver.received == first);
    QCOMPARE(receiver.deliveredIn, QThread::currentThread());
    QCOMPARE(receiver.receivedList.size(), 2);
    QVERIFY(receiver.receivedList.at(0) == first);
    QVERIFY(receiver.receivedList.at(1) == second);
}

void TestPrinterRecordStore::firstInsertCreatesFileAndTable()
{
    QVERIFY(!QFileInfo::exists(dbPath()));
    const DriverInfo info = makeInfo(QStringLiteral("Front desk"), sn0(), 9100);
    QVERIFY(insertPrinterRecord(info));
    QVERIFY(!defaultConnectionOpen());
    QVERIFY(QFileInfo::exists(dbPath()));

    const QList<StoredRow> rows = readRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].printer_name, info.printer_name);
    QCOMPARE(rows[0].driver_name, info.driver_name);
    QCOMPARE(rows[0].cloud_sn, info.cloud_sn);
    QCOMPARE(rows[0].port_name, info.port_name);
    QCOMPARE(rows[0].port_num.toInt(), 9100);
    QCOMPARE(rows[0].ip, info.ip);
    // The insertion time comes from the table's default.
    QVERIFY2(QDateTime::fromString(rows[0].ts, QStringLiteral("yyyy-MM-dd HH:mm:ss")).isValid(),
        qPrintable(rows[0].ts));

    // The table is exactly the one the program has always created.
    const QList<QVariantList> schema
        = queryOther(QStringLiteral("select sql from sqlite_master where name = 'driver'"));
    QCOMPARE(schema.size(), 1);
    QCOMPARE(schema[0].value(0).toString(),
        QStringLiteral("CREATE TABLE driver(id integer PRIMARY KEY autoincrement, "
                       "printer_name text UNIQUE, driver_name text, cloud_sn text, port_name text, "
                       "port_num INTEGER, ip text,  "
                       "ts TIMESTAMP DEFAULT (datetime('now','localtime')))"));

    // Later inserts find the table and add to it.
    const DriverInfo second = makeInfo(QStringLiteral("Back office"), sn1(), 9101);
    QVERIFY(insertPrinterRecord(second));
    QCOMPARE(countRows(), 2);
}

void TestPrinterRecordStore::duplicateNameIsRefusedAndRowUnchanged()
{
    const DriverInfo original = makeInfo(QStringLiteral("Front desk"), sn0(), 9100);
    QVERIFY(insertPrinterRecord(original));
    const StoredRow before = readRows().value(0);

    LogCapture log;
    DriverInfo again = makeInfo(QStringLiteral("Front desk"), QStringLiteral("FEDCBA9876543210"), 9200);
    again.ip = QStringLiteral("10.0.0.1");
    QVERIFY(!insertPrinterRecord(again));
    QVERIFY(!defaultConnectionOpen());

    const QStringList errors = log.linesStartingWith(QStringLiteral("Insert printer error QSqlError("));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(QStringLiteral("UNIQUE")), qPrintable(errors[0]));

    const QList<StoredRow> rows = readRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].cloud_sn, before.cloud_sn);
    QCOMPARE(rows[0].port_num, before.port_num);
    QCOMPARE(rows[0].ip, before.ip);
    QCOMPARE(rows[0].ts, before.ts);
}

void TestPrinterRecordStore::awkwardNamesRoundTrip_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("single quote") << QStringLiteral("O'Brien's printer");
    QTest::newRow("double quote") << QStringLiteral("Lab \"2\"");
    QTest::newRow("place markers") << QStringLiteral("Printer %2 %1 %3");
    QTest::newRow("injection") << QStringLiteral("x' or '1'='1");
    QTest::newRow("placeholders") << QStringLiteral("what? :name @p $v [x]");
    QTest::newRow("chinese") << QStringLiteral("财务部 \"打印机\" '%2'");
}

void TestPrinterRecordStore::awkwardNamesRoundTrip()
{
    QFETCH(QString, name);
    // A bystander row shows that no statement reaches further than the one printer.
    const DriverInfo bystander = makeInfo(QStringLiteral("Bystander"), sn2(), 90);
    QVERIFY(insertPrinterRecord(bystander));

    DriverInfo info = makeInfo(name, sn0(), 9100);
    info.port_name = name + QStringLiteral(" port %1");
    QVERIFY(insertPrinterRecord(info));
    QList<StoredRow> rows = readRows(QStringLiteral("where printer_name = ?"), name);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].printer_name, name);
    QCOMPARE(rows[0].port_name, info.port_name);

    // The card's two updates, each with the caller's quoting.
    const QString newSn = QStringLiteral("A%1B'C\"D%2");
    QVERIFY(updatePrinterRecord(name, QStringLiteral("cloud_sn"), sqlTextLiteral(newSn)));
    rows = readRows(QStringLiteral("where printer_name = ?"), name);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].cloud_sn, newSn);

    const QString newName = name + QStringLiteral(" '%1' renamed?");
    QVERIFY(updatePrinterRecord(name, QStringLiteral("printer_name"), sqlTextLiteral(newName)));
    QVERIFY(readRows(QStringLiteral("where printer_name = ?"), name).isEmpty());
    rows = readRows(QStringLiteral("where printer_name = ?"), newName);
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].cloud_sn, newSn);
    QCOMPARE(rows[0].port_num.toInt(), 9100);

    QVERIFY(deletePrinterRecord(newName));
    QVERIFY(readRows(QStringLiteral("where printer_name = ?"), newName).isEmpty());

    rows = readRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].printer_name, bystander.printer_name);
    QCOMPARE(rows[0].cloud_sn, bystander.cloud_sn);
    QVERIFY(!defaultConnectionOpen());
}

void TestPrinterRecordStore::unknownNameDeleteAndUpdateChangeNothing()
{
    const DriverInfo info = makeInfo(QStringLiteral("Front desk"), sn0(), 9100);
    QVERIFY(insertPrinterRecord(info));

    LogCapture log;
    QVERIFY(deletePrinterRecord(QStringLiteral("Nobody")));
    QVERIFY(updatePrinterRecord(QStringLiteral("Nobody"), QStringLiteral("cloud_sn"),
        sqlTextLiteral(QStringLiteral("FFFFFFFFFFFFFFFF"))));
    QVERIFY(updatePrinterRecord(QStringLiteral("front desk"), QStringLiteral("printer_name"),
        sqlTextLiteral(QStringLiteral("Renamed"))));
    QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join(QLatin1Char('\n'))));

    const QList<StoredRow> rows = readRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].printer_name, info.printer_name);
    QCOMPARE(rows[0].cloud_sn, info.cloud_sn);
}

void TestPrinterRecordStore::deleteAndUpdateFailBeforeTableExists()
{
    LogCapture log;
    QVERIFY(!deletePrinterRecord(QStringLiteral("Front desk")));
    QVERIFY(!updatePrinterRecord(
        QStringLiteral("Front desk"), QStringLiteral("cloud_sn"), sqlTextLiteral(sn0())));
    QVERIFY(!defaultConnectionOpen());

    // The query's error stands alone on its line.
    const QStringList errors = log.linesStartingWith(QStringLiteral("QSqlError("));
    QCOMPARE(errors.size(), 2);
    QVERIFY2(errors[0].contains(QStringLiteral("no such table")), qPrintable(errors[0]));

    QVERIFY(insertPrinterRecord(makeInfo(QStringLiteral("Front desk"), sn0(), 1)));
    QVERIFY(deletePrinterRecord(QStringLiteral("Front desk")));
    QCOMPARE(countRows(), 0);
}

void TestPrinterRecordStore::portNumberStoredAsDecimalInteger_data()
{
    QTest::addColumn<int>("port");
    QTest::newRow("highest") << 65535;
    QTest::newRow("above signed 16-bit") << 40000;
    QTest::newRow("lowest") << 1;
}

void TestPrinterRecordStore::portNumberStoredAsDecimalInteger()
{
    QFETCH(int, port);
    QVERIFY(insertPrinterRecord(makeInfo(QStringLiteral("P"), sn0(), quint16(port))));
    const QList<StoredRow> rows = readRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].portNumType, QStringLiteral("integer"));
    QCOMPARE(rows[0].port_num.toLongLong(), qlonglong(port));
    QCOMPARE(rows[0].port_num.toString(), QString::number(port));
}

void TestPrinterRecordStore::unopenableDatabaseFailsEveryOperation()
{
    // A folder where the file should be cannot be opened as a database.
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("task.db")));

    LogCapture log;
    QVERIFY(!insertPrinterRecord(makeInfo(QStringLiteral("P"), sn0(), 9100)));
    QVERIFY(!deletePrinterRecord(QStringLiteral("P")));
    QVERIFY(!updatePrinterRecord(QStringLiteral("P"), QStringLiteral("cloud_sn"), QStringLiteral("'X'")));
    QVERIFY(!defaultConnectionOpen());

    const QStringList lines = log.lines();
    QCOMPARE(log.linesStartingWith(QStringLiteral("Error: Fail to open task.db. QSqlError(")).size(), 3);
    QVERIFY2(log.linesStartingWith(QStringLiteral("Insert printer error")).isEmpty(),
        qPrintable(lines.join(QLatin1Char('\n'))));
    QVERIFY(QFileInfo(dbPath()).isDir());
}

void TestPrinterRecordStore::failedCreateInsertsNothing()
{
    // An index already holds the name, so the table can be neither found nor created.
    bool ok = false;
    queryOther(QStringLiteral("create table other(x)"), {}, &ok);
    QVERIFY(ok);
    queryOther(QStringLiteral("create index driver on other(x)"), {}, &ok);
    QVERIFY(ok);

    LogCapture log;
    QVERIFY(!insertPrinterRecord(makeInfo(QStringLiteral("P"), sn0(), 9100)));
    QVERIFY(!defaultConnectionOpen());
    const QStringList errors = log.linesStartingWith(QStringLiteral("Create table driver error QSqlError("));
    QCOMPARE(errors.size(), 1);
    QVERIFY2(errors[0].contains(QStringLiteral("driver")), qPrintable(errors[0]));
    QVERIFY(log.linesStartingWith(QStringLiteral("Insert printer error")).isEmpty());
    QVERIFY(!driverTableExists());
}

QTEST_GUILESS_MAIN(TestPrinterRecordStore)
#include "tst_printerrecordstore.moc"
