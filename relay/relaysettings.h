#ifndef RELAYSETTINGS_H
#define RELAYSETTINGS_H

#include <QString>
#include <QtGlobal>

// Where the cloud print service lives and how long the relay waits. The program always uses the
// build-time address and the fixed waits below; tests point the clients at a stand-in on a free port
// and shorten the long waits so that a suite need not sit through them.

// Scheme, host and port of the cloud print service, without a trailing slash.
QString cloudServiceBase();
// How long a receiver waits for the spooler's next byte before it gives the connection up (30000 ms).
// Silence counts, not the job's whole time: a slowly rendering application still prints.
int jobReceiveTimeoutMs();
// How long a post may go without upload progress, and then wait for the service's answer (15000 ms);
// also the limit of the device-state and result queries.
int cloudReplyTimeoutMs();
// The most job bytes a receiver keeps (4 GiB); a larger job is read to its end and refused.
qint64 maxJobBytes();
// Retrying a post the service cannot have received: the first wait, the longest wait (the waits
// double in between) and how long after the first attempt the job is given up (1 s, 60 s, 15 min).
int postRetryFirstDelayMs();
int postRetryMaxDelayMs();
qint64 postRetryGiveUpMs();
// How long a job may stay "正在打印" before it counts as failed (60 minutes).
qint64 printingLimitMs();

void setCloudServiceBaseForTesting(const QString &base);
void setJobReceiveTimeoutForTesting(int ms);
void setCloudReplyTimeoutForTesting(int ms);
void setMaxJobBytesForTesting(qint64 bytes);
void setPostRetryForTesting(int firstDelayMs, int maxDelayMs, qint64 giveUpMs);
void setPrintingLimitForTesting(qint64 ms);
// Back to the program's own values.
void resetRelaySettingsForTesting();

#endif // RELAYSETTINGS_H
