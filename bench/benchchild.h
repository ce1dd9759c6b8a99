#ifndef BENCHCHILD_H
#define BENCHCHILD_H

#include <QString>

// The measured parts of the benchmark, each run as a child process of it so that its peak memory is
// its own. Each one reports on stdout, one line per fact, words separated by spaces:
//   limit:   "ready PORT IDLE_RSS", then "done NS JOB_BYTES BODY_BYTES PEAK_RSS"
//   relay:   "ready PORT IDLE_RSS", then "done NS ERROR JOB_SIZE JOB_ID PEAK_RSS RECEIVED_NS WHOLE_NS
//            SENT_NS ANSWER_NS" (the job whole in its spool file, the post's last body byte out, the
//            service's answer at the cloud client; NS is when the outbox handed the result on)
//   shell:   "done NS EXIT_CODE PEAK_RSS_OF_LARGEST_PROCESS"
//   post:    "done START_NS END_NS HTTP_STATUS"
// NS are monotonic clock readings (see procstats.h), sizes in bytes. A line "error TEXT" ends a child
// that could not do its part.

// Receives one connection on loopback and Base64-encodes it into a body, nothing else: how fast this
// machine can possibly take a job in.
int runLimitChild();
// The program's own listener, receiver and cloud client relaying one job to the stand-in at `base`.
int runRelayChild(int argc, char **argv, const QString &base);
// A shell command line, timed to its end, with the peak memory of its largest process.
int runShellChild(const QString &command);

// Posts the finished body of a job of `jobBytes` to the stand-in at `base` and times it to the answer,
// to take the upload apart: `how` is "raw" (a plain blocking socket, the floor), "qnam" (the network
// access manager as the cloud client uses it) or "qnam-sync" (the same with the manager's synchronous
// mode, which hands the body to the HTTP thread without the per-slice trips between threads).
int runPostChild(int argc, char **argv, const QString &how, const QString &base, qint64 jobBytes);

// The cloud serial number the benchmark's printers post for.
QString benchSerial();
// The program's own waits, with the cloud service at the stand-in at `base`.
void useService(const QString &base);

// A child's report: one line on stdout, flushed at once.
void report(const QByteArray &line);
// Reports "error WHY"; the child's exit code.
int fail(const QString &why);
// Debug lines go nowhere (the program writes them to a file, not a terminal); warnings to stderr.
// Also marks, from the relay's own lines, when a job was whole and when its answer came.
void installQuietLog();
// From now on keeps the log lines of the application's own thread with their times (call it in
// that thread), so that guiLogLineBefore() can tell what the thread was doing at a moment.
void keepGuiLogLines();
// The last line the application's thread logged at or before `ns`; empty when none.
QString guiLogLineBefore(qint64 ns);

#endif // BENCHCHILD_H
