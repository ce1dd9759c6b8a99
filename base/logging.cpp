#include "logging.h"

#include "clock.h"
#include "programwaits.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <cstdlib>

namespace {

constexpr int kExcerptBytes = 4096;
// The day whose file is full, and the limit it was full under: under another limit the file is
// looked at again. Set and read under the handler's lock.
QDate g_fullDay;
qint64 g_fullDayLimit = 0;

const char kFullNote[] = "log file reached its limit; nothing more is logged today";

// True once the day's file holds the note: a full file is not reopened for every message.
bool endsWithFullNote(QFile &file)
{
    const qint64 tail = qint64(sizeof kFullNote) + 8;
    if (file.size() < tail || !file.seek(file.size() - tail))
        return false;
    return file.read(tail).contains(kFullNote);
}

QString logFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/logs");
}

QString levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug:");
    case QtInfoMsg:
        return QStringLiteral("Info:");
    case QtWarningMsg:
        return QStringLiteral("Warning:");
    case QtCriticalMsg:
        return QStringLiteral("Critical:");
    case QtFatalMsg:
        return QStringLiteral("Fatal:");
    }
    return QString();
}

} // namespace

QString logFilePath(const QDate &date)
{
    return logFolder() + QLatin1Char('/') + date.toString(QStringLiteral("yyyy-MM-dd"))
        + QStringLiteral(".log");
}

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    Q_UNUSED(context)
    // Held from path formation to closing the file, so lines of different threads never interleave
    // and a line never lands in the wrong day's file.
    static QMutex mutex;
    QMutexLocker locker(&mutex);

    const QString level = levelWord(type);
    if (type == QtFatalMsg)
        std::abort();

    const QDateTime now = Clock::currentDateTime();
    // One multi-argument pass, so "%1" inside the message is written as it is.
    const QString line = QStringLiteral("[%1] %2 %3")
                             .arg(now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss zzz")), level, msg);

    const qint64 limit = ProgramWaits::current().maxLogFileBytes;
    if (g_fullDay == now.date() && g_fullDayLimit == limit)
        return;
    // Opened and closed per message: a crash never loses buffered lines, and the folder is never made.
    QFile file(logFilePath(now.date()));
    if (!file.open(QIODevice::ReadWrite | QIODevice::Append))
        return;
    const QByteArray bytes = line.toLocal8Bit() + "\r\n";
    if (file.size() + bytes.size() > limit) {
        // A peer that floods the log must not fill the disk; the day's start stays readable.
        g_fullDay = now.date();
        g_fullDayLimit = limit;
        if (!endsWithFullNote(file)) {
            file.seek(file.size());
            const QString note = QStringLiteral("[%1] %2 %3")
                                     .arg(now.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss zzz")),
                                         levelWord(QtWarningMsg), QLatin1String(kFullNote));
            file.write(note.toLocal8Bit() + "\r\n");
        }
        return;
    }
    file.write(bytes);
    file.close();
}

QString logExcerpt(const QByteArray &text)
{
    if (text.size() <= kExcerptBytes)
        return QString::fromUtf8(text);
    return QString::fromUtf8(text.left(kExcerptBytes))
        + QStringLiteral("… (%1 bytes in all)").arg(text.size());
}

void LogFileManage(int days)
{
    QDir dir(logFolder());
    const QStringList entries = dir.entryList(QStringList() << QStringLiteral("*.log"), QDir::Files);
    const QDate threshold = Clock::currentDate().addDays(-days);
    for (const QString &entry : entries) {
        QString name = entry;
        name.remove(QStringLiteral(".log"), Qt::CaseSensitive);
        const QDate fileDate = QDate::fromString(name, QStringLiteral("yyyy-MM-dd"));
        // An invalid date has no distance: files that are no dated log are never deleted.
        const qint64 distance = fileDate.isValid() ? threshold.daysTo(fileDate) : 0;
        qDebug() << "100_LogFileManage thresholdDate: " << distance;
        if (distance < 0)
            dir.remove(entry);
    }
}
