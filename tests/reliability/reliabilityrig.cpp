#include "reliabilityrig.h"

#include "cloudsimprocess.h"
#include "detailfile.h"
#include "detailrecordparser.h"
#include "driveritem.h"
#include "liveobjects.h"
#include "printerserver.h"
#include "tolmainwindow.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonObject>
#include <QLayout>
#include <QScrollArea>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QTest>
#include <QThread>
#include <QVariant>

namespace Rig {

QList<DriverItem *> cards(TolMainWindow &window)
{
    QList<DriverItem *> found;
    auto *area = window.findChild<QScrollArea *>(QStringLiteral("scrollArea"));
    if (!area || !area->widget() || !area->widget()->layout())
        return found;
    QLayout *layout = area->widget()->layout();
    for (int i = 0; i < layout->count(); ++i) {
        if (auto *card = qobject_cast<DriverItem *>(layout->itemAt(i)->widget()))
            found.append(card);
    }
    return found;
}

PrinterServer *serverFor(TolMainWindow &window, DriverItem *card)
{
    for (PrinterServer *server : window.findChildren<PrinterServer *>()) {
        if (server->isListening() && server->serverPort() == card->driverInfo().port_num)
            return server;
    }
    return nullptr;
}

QList<QStringList> records(const QString &serial)
{
    return parseDetailRecords(readDetailRecords(serial));
}

QJsonArray serviceJobs(CloudSimProcess &sim)
{
    return sim.adminGet(QStringLiteral("/admin/jobs")).object().value(QStringLiteral("jobs")).toArray();
}

QStringList storedRows()
{
    QStringList rows;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("rig-reader"));
        db.setDatabaseName(QStringLiteral("task.db"));
        if (db.open()) {
            QSqlQuery query(
                QStringLiteral("select printer_name, cloud_sn, port_num from driver order by id"), db);
            while (query.next()) {
                rows << QStringLiteral("%1|%2|%3")
                            .arg(query.value(0).toString(), query.value(1).toString(),
                                query.value(2).toString());
            }
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("rig-reader"));
    return rows;
}

quint16 deadPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

QString waitForJobObjectsGone(int timeoutMs)
{
    // Receivers first: their threads own the clients and replies, which may still be going away.
    const QByteArrayList kinds { "PrinterThread", "AddPrinterThread", "RemovePrinterThread", "Cloud",
        "StateThread", "QNetworkReply" };
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
        const bool receiversGone = LiveObjects::count("PrinterThread") == 0
            && LiveObjects::count("AddPrinterThread") == 0 && LiveObjects::count("RemovePrinterThread") == 0;
        if (receiversGone) {
            const QString left = LiveObjects::leftovers(kinds);
            if (left.isEmpty())
                return QString();
            if (deadline.hasExpired())
                return left;
        } else if (deadline.hasExpired()) {
            return LiveObjects::leftovers(kinds);
        }
        QTest::qWait(20);
    }
}

QByteArray jobBytes(const QString &tag, int size)
{
    QByteArray bytes = tag.toUtf8() + '\n';
    const uint seed = qHash(tag);
    for (int i = 0; bytes.size() < size; ++i)
        bytes.append(char((seed + uint(i) * 131u) >> 3));
    bytes.truncate(size);
    return bytes;
}

} // namespace Rig
