#ifndef LOGGING_H
#define LOGGING_H

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QtGlobal>

// The process-wide Qt message handler: every message of every thread becomes one line of the day's
// log file beside the program, up to ProgramWaits::maxLogFileBytes a day. Fatal messages end the
// process without a line.
void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg);

// The log file of one day: <program folder>/logs/yyyy-MM-dd.log
QString logFilePath(const QDate &date);

// At most 4 KiB of a peer's text for a log line, with its full length when it was cut.
QString logExcerpt(const QByteArray &text);

// Deletes the log files dated before today minus `days` days; files whose name is no date stay.
void LogFileManage(int days);

#endif // LOGGING_H
