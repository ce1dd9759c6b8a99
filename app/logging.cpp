#include "logging.h"

#include "clock.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QTextStream>

#include <cstdlib>

namespace {

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

    // Opened and closed per message: a crash never loses buffered lines, and the folder is never made.
    QFile file(logFilePath(now.date()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream << line << "\r\n";
    stream.flush();
    file.close();
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
