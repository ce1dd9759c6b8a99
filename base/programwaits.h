#ifndef PROGRAMWAITS_H
#define PROGRAMWAITS_H

#include "courierconstants.h"

#include <QString>
#include <QtGlobal>

// Where the cloud print service lives, how long the program waits and how much it keeps. The program
// always runs on these defaults; tests point the clients at a stand-in on a free port and shorten the
// long waits so that a suite need not sit through them. Readers take current() when they need a value,
// from whatever thread they run on.
struct ProgramWaits
{
    // Scheme, host and port of the cloud print service, without a trailing slash.
    QString cloudServiceBase = QStringLiteral(COURIER_CLOUD_SERVICE_BASE);
    // How long a receiver waits for the spooler's next byte before it gives the connection up.
    // Silence counts, not the job's whole time: a slowly rendering application still prints.
    int jobReceiveTimeoutMs = 30000;
    // How long a post may go without upload progress, and then wait for the service's answer;
    // also the limit of the device-state and result queries.
    int cloudReplyTimeoutMs = 15000;
    // The most job bytes a receiver keeps (4 GiB); a larger job is read to its end and refused.
    qint64 maxJobBytes = qint64(4) << 30;
    // Retrying a post the service cannot have received: the first wait, the longest wait (the waits
    // double in between) and how long after the first attempt the job is given up (1 s, 60 s, 15 min).
    int postRetryFirstDelayMs = 1000;
    int postRetryMaxDelayMs = 60000;
    qint64 postRetryGiveUpMs = qint64(15) * 60 * 1000;
    // How long a job may stay "正在打印" before it counts as failed (60 minutes).
    qint64 printingLimitMs = qint64(60) * 60 * 1000;
    // The longest any child process (a printer installer, a driver tool) is waited for, whatever limit
    // its caller names; -1 leaves every caller's own limit.
    int childProcessLimitCapMs = -1;
    // The housekeeping step runs once, this long after the window starts (5 minutes).
    int housekeepingDelayMs = 300000;
    // The most a day's log file grows to (100 MiB); past it one line says so and the day logs no more.
    qint64 maxLogFileBytes = qint64(100) << 20;

    // The values in force now: the defaults unless a test set others.
    static ProgramWaits current();
    // Only tests call these; the program never leaves its defaults.
    static void setForTesting(const ProgramWaits &waits);
    static void resetForTesting();
};

#endif // PROGRAMWAITS_H
