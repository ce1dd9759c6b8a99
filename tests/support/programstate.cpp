#include "programstate.h"

#include <QHostAddress>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTcpSocket>

namespace ProgramState {

QStringList storedRows(const QString &columns)
{
    const QString connection = QStringLiteral("programstate-reader");
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(QStringLiteral("task.db"));
        if (db.open()) {
            QSqlQuery query(QStringLiteral("select %1 from driver order by id").arg(columns), db);
            while (query.next()) {
                QStringList fields;
                for (int i = 0; i < query.record().count(); ++i)
                    fields << query.value(i).toString();
                rows << fields.join(QLatin1Char('|'));
            }
        }
    }
    QSqlDatabase::removeDatabase(connection);
    return rows;
}

bool acceptsConnections(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    const bool connected = socket.waitForConnected(2000);
    socket.abort();
    return connected;
}

} // namespace ProgramState
