#include "printerrecordstore.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

namespace {

const char kCreateTable[]
    = "create table driver(id integer PRIMARY KEY autoincrement, printer_name text UNIQUE, "
      "driver_name text, cloud_sn text, port_name text, port_num INTEGER, ip text,  "
      "ts TIMESTAMP DEFAULT (datetime('now','localtime')))";

// Values travel as bound parameters so that names with quotes or "%2" in them are stored and
// matched as themselves; the statements keep the shape and columns they always had.
const char kInsert[] = "INSERT INTO driver(printer_name, driver_name, cloud_sn, port_name, port_num, ip) "
                       "VALUES( ?, ?, ?, ?, ?, ?)";

const char kDelete[] = "delete from driver where printer_name = ?";

QSqlDatabase openRecordDatabase(bool *ok)
{
    const QString name = QLatin1String(QSqlDatabase::defaultConnection);
    // The connection stays registered between calls; only the file is opened and closed per call.
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name, false)
                                                   : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"));
    db.setDatabaseName(QStringLiteral("task.db"));
    *ok = db.open();
    if (!*ok)
        qDebug() << "Error: Fail to open task.db." << db.lastError();
    return db;
}

bool tableExists(QSqlDatabase &db)
{
    QSqlQuery query(db);
    const QString check
        = QStringLiteral("select count(*) from sqlite_master where type = 'table' and name = 'driver'");
    if (!query.exec(check)) {
        qDebug() << query.lastError();
        return false;
    }
    return query.next() && query.value(0).toInt() > 0;
}

bool createTable(QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QLatin1String(kCreateTable))) {
        qDebug() << "Create table driver error" << query.lastError();
        return false;
    }
    return true;
}

bool insertRow(QSqlDatabase &db, const DriverInfo &info)
{
    QSqlQuery query(db);
    bool ok = query.prepare(QLatin1String(kInsert));
    if (ok) {
        query.addBindValue(info.printer_name);
        query.addBindValue(info.driver_name);
        query.addBindValue(info.cloud_sn);
        query.addBindValue(info.port_name);
        query.addBindValue(int(info.port_num));
        query.addBindValue(info.ip);
        ok = query.exec();
    }
    if (!ok)
        qDebug() << "Insert printer error" << query.lastError();
    return ok;
}

// Runs one statement whose only bound value is the printer name.
bool execKeyedByName(QSqlDatabase &db, const QString &statement, const QString &printerName)
{
    QSqlQuery query(db);
    bool ok = query.prepare(statement);
    if (ok) {
        query.addBindValue(printerName);
        ok = query.exec();
    }
    if (!ok)
        qDebug() << query.lastError();
    return ok;
}

} // namespace

bool insertPrinterRecord(const DriverInfo &info)
{
    bool opened = false;
    QSqlDatabase db = openRecordDatabase(&opened);
    if (!opened)
        return false;

    bool ok = tableExists(db) || createTable(db);
    if (ok)
        ok = insertRow(db, info);
    db.close();
    return ok;
}

bool deletePrinterRecord(const QString &printerName)
{
    bool opened = false;
    QSqlDatabase db = openRecordDatabase(&opened);
    if (!opened)
        return false;

    const bool ok = execKeyedByName(db, QLatin1String(kDelete), printerName);
    db.close();
    return ok;
}

bool updatePrinterRecord(const QString &printerName, const QString &column, const QString &value)
{
    bool opened = false;
    QSqlDatabase db = openRecordDatabase(&opened);
    if (!opened)
        return false;

    // Joined rather than filled in with arg(): the caller's literal may itself hold "%1".
    const QString statement = QStringLiteral("update driver set ") + column + QStringLiteral(" = ") + value
        + QStringLiteral(" where printer_name = ?");
    const bool ok = execKeyedByName(db, statement, printerName);
    db.close();
    return ok;
}

QString sqlTextLiteral(const QString &text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}
