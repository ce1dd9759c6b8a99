#ifndef CLOSEDPORT_H
#define CLOSEDPORT_H

#include <QtGlobal>

// A loopback port that nothing listens on (for now): connections to it are refused.
quint16 closedLoopbackPort();

#endif // CLOSEDPORT_H
