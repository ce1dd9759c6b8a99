#ifndef LIVEOBJECTS_H
#define LIVEOBJECTS_H

#include <QByteArrayList>
#include <QMap>
#include <QString>

class QObject;

// Every QObject alive in the process, of every thread, through the hooks Qt keeps for its tools,
// so that a suite can ask how many objects of a kind are left once a case is over: a receiver, a
// cloud client, a network reply or a result poller that outlives its job is a leak.
class LiveObjects
{
public:
    LiveObjects();
    ~LiveObjects();
    LiveObjects(const LiveObjects &) = delete;
    LiveObjects &operator=(const LiveObjects &) = delete;

    // The objects alive now that inherit the class. An object that another thread is destroying
    // right now cannot be looked at safely, so ask once the threads that own such objects are done
    // (the receivers' objects go with their threads; wait for "PrinterThread" to reach 0 first).
    static int count(const char *className);
    // All objects alive, of every kind.
    static int total();
    // How many objects of each class are alive, by class name.
    static QMap<QByteArray, int> census();
    // The newest object alive that inherits the class, or null.
    static QObject *newest(const char *className);
    // "PrinterThread 1, QNetworkReply 2" for the kinds that have objects left; empty when none.
    static QString leftovers(const QByteArrayList &classNames);
};

#endif // LIVEOBJECTS_H
