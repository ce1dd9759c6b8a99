#include "detailfile.h"

#include <QCoreApplication>
#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>

#include "clock.h"

namespace {

const char kDateFormat[] = "yyyy-MM-dd";
const int kSerialLength = 16;

// The card writes while the history dialog reads; one lock keeps a reader from seeing half a record.
QMutex g_detailMutex;

QString detailFolder()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/details");
}

void logOpenFailure(const QFile &file)
{
    qDebug() << int(file.error());
    qDebug() << file.errorString();
}

} // namespace

QString recordHandlingTime()
{
    return Clock::currentDateTime().toString(QStringLiteral("HH:mm:ss"));
}

void appendJobRecord(const QString &cloudSn, const QString &jobneed, const QString &result, qint64 jobSize)
{
    appendDetailRecord(cloudSn, jobDetailRecord(jobneed, result, jobSize, recordHandlingTime()));
}

QString detailFilePath(const QString &cloudSn)
{
    return detailFilePath(cloudSn, Clock::currentDate());
}

QString detailFilePath(const QString &cloudSn, const QDate &day)
{
    return detailFolder() + QLatin1Char('/') + cloudSn + day.toString(QLatin1String(kDateFormat))
        + QStringLiteral(".txt");
}

void appendDetailRecord(const QString &cloudSn, const QString &record)
{
    // Formed outside the lock: escaping a long record need not hold up the history dialog.
    const QByteArray bytes = encodeDetailRecord(escapeDetailRecord(record) + detailRecordSeparator());
    QMutexLocker locker(&g_detailMutex);
    QFile file(detailFilePath(cloudSn));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        logOpenFailure(file);
        return;
    }
    // UTF-8 whatever the code page: a Western Windows cannot hold "打印成功" in its own.
    file.write(bytes);
    file.close();
}

QString readDetailRecords(const QString &cloudSn)
{
    return readDetailRecords(cloudSn, Clock::currentDate());
}

QString readDetailRecords(const QString &cloudSn, const QDate &day)
{
    QMutexLocker locker(&g_detailMutex);
    QFile file(detailFilePath(cloudSn, day));
    if (!file.open(QIODevice::ReadOnly)) {
        logOpenFailure(file);
        return QString();
    }
    return decodeDetailText(file.readAll());
}

qint64 detailFileSize(const QString &cloudSn)
{
    return detailFileSize(cloudSn, Clock::currentDate());
}

qint64 detailFileSize(const QString &cloudSn, const QDate &day)
{
    QMutexLocker locker(&g_detailMutex);
    QFile file(detailFilePath(cloudSn, day));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.size();
}

QByteArray readDetailBytes(const QString &cloudSn, const QDate &day, qint64 offset, qint64 *fileSize)
{
    QMutexLocker locker(&g_detailMutex);
    *fileSize = 0;
    QFile file(detailFilePath(cloudSn, day));
    if (!file.open(QIODevice::ReadOnly)) {
        logOpenFailure(file);
        return QByteArray();
    }
    *fileSize = file.size();
    if (offset >= *fileSize || !file.seek(offset))
        return QByteArray();
    return file.read(*fileSize - offset);
}

void DetailFileManage()
{
    // Today's and yesterday's files stay: a history dialog or a late job may still use them.
    const QDate threshold = Clock::currentDate().addDays(-1);
    QDir folder(detailFolder());
    const QStringList names = folder.entryList(QStringList { QStringLiteral("*.txt") }, QDir::Files);
    for (const QString &name : names) {
        QString rest = name;
        rest.remove(QStringLiteral(".txt"), Qt::CaseSensitive);
        rest.remove(0, kSerialLength);
        const QDate date = QDate::fromString(rest, QLatin1String(kDateFormat));
        // A name without a date gives an invalid date, which is never before the threshold.
        if (date.isValid() && date < threshold)
            QFile::remove(folder.filePath(name));
    }
}
