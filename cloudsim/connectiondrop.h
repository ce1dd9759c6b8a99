#ifndef CONNECTIONDROP_H
#define CONNECTIONDROP_H

// Shuts down, in both directions, the TCP connection of this process between local port
// `localPort` and the peer's port `remotePort` on the loopback address, so that the request being
// served there ends without any answer; the HTTP layer then fails to write and closes the socket.
// The HTTP layer does not hand its sockets to request handlers, so the socket is found among the
// process's descriptors by its two ports. Returns false when it was not found.
bool dropConnection(int localPort, int remotePort);

#endif // CONNECTIONDROP_H
