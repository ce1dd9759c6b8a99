#ifndef WINDOWCHILD_H
#define WINDOWCHILD_H

#include <QString>
#include <QtGlobal>

// The parts of the benchmark that measure the window rather than the relay, each run as a child
// process in a program folder of the benchmark's own (its details/, outbox.db and spool/ beside the
// child) over a winsim of the benchmark's own. Lines on stdout, as in benchchild.h:
//   startup:    "startup CONSTRUCT_NS RSS_BEFORE RSS_AFTER PEAK_RSS CARDS LISTENING"
//   responsive: "ready LISTENING", then, once every card has recorded its job,
//               "recorded END_NS RECORDED PRINTED JOB_ID,JOB_ID,... OTHER_RESULT" (the
//               first result other than a print, if any), then it reads "first NS" (the
//               first byte of the first job) on stdin and answers
//               "responsive WORST_NS P99_NS TICKS DIALOG_ROWS SLOW_TICKS" (ticks more than
//               a frame, 16 ms, late), then "heldbefore DUE_NS LINE" and "heldwhile FIRED_NS LINE":
//               the latest tick's times, and the window thread's last log line before it fell due
//               and (when another) before it fired
//   history:    "history CONSTRUCT_NS OPEN_NS REFRESH_NS IDLE_REFRESH_NS ROWS"

// The name and serial of the benchmark's printer number `index`.
QString benchPrinterName(int index);
QString benchPrinterSerial(int index);

// The main window's construction over `printers` cloud printers listening from `basePort` on.
int runStartupChild(int argc, char **argv, int printers, quint16 basePort, const QString &base);

// The main window over `printers` cloud printers with the first one's history dialog open over
// `records` records, while the runner, as the spooler, sends one job to every printer at once; a 1 ms
// timer on the window's thread tells how late the thread answered meanwhile.
int runResponsiveChild(
    int argc, char **argv, int printers, quint16 basePort, int records, const QString &base);

// The history dialog over `records` records of today: its opening, and one refresh after one more
// record (the median of several), and one with nothing new.
int runHistoryChild(int argc, char **argv, int records, quint16 basePort);

#endif // WINDOWCHILD_H
