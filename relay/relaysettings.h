#ifndef RELAYSETTINGS_H
#define RELAYSETTINGS_H

#include <QString>
#include <QtGlobal>

// Where the cloud print service lives and how long the relay waits. The program always uses the
// build-time address and the fixed waits below; tests point the clients at a stand-in on a free port
// and shorten the long waits so that a suite need not sit through them.

// Scheme, host and port of the cloud print service, without a trailing slash.
QString cloudServiceBase();
// How long a receiver waits for the spooler to close its connection (30000 ms).
int jobReceiveTimeoutMs();
// How long a receiver waits for the service to answer a post (15000 ms).
int cloudReplyTimeoutMs();
// The most job bytes a receiver keeps (1 GiB): the Base64 text of a larger job would not fit in
// one byte array, so such a job is read to its end and refused instead of posted.
qint64 maxJobBytes();

void setCloudServiceBaseForTesting(const QString &base);
void setJobReceiveTimeoutForTesting(int ms);
void setCloudReplyTimeoutForTesting(int ms);
void setMaxJobBytesForTesting(qint64 bytes);
// Back to the program's own values.
void resetRelaySettingsForTesting();

#endif // RELAYSETTINGS_H
