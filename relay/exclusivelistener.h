#ifndef EXCLUSIVELISTENER_H
#define EXCLUSIVELISTENER_H

#include <QString>
#include <QtGlobal>

// A listening socket on 127.0.0.1 and `port` that no other socket may share or take over (on
// Windows a later bind with address reuse would otherwise steal the port's connections). Returns
// the native descriptor, or -1 with the reason in `error`.
qintptr listenExclusively(quint16 port, QString *error);

#endif // EXCLUSIVELISTENER_H
