#include "detailfile.h"

#include <QCoreApplication>
#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QTextStream>

#include "clock.h"

namespace {

const char kSeparator[] = "!+!";
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

QString jobDetailRecord(const QString &jobneed, const QString &result, qint64 jobSize, const QString &handledAt)
{
    // One pass over the pattern: a document named "%2" stays "%2".
    return QStringLiteral("%1;%2;%3;%4").arg(jobneed, result, QString::number(jobSize), handledAt);
}

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
    const QString day = Clock::currentDate().toString(QLatin1String(kDateFormat));
    return detailFolder() + QLatin1Char('/') + cloudSn + day + QStringLiteral(".txt");
}

void appendDetailRecord(const QString &cloudSn, const QString &record)
{
    QMutexLocker locker(&g_detailMutex);
    QFile file(detailFilePath(cloudSn));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        logOpenFailure(file);
        return;
    }
    // The stream's default codec is the locale's, which is what the history dialog reads with.
    QTextStream out(&file);
    out << record << QLatin1String(kSeparator);
    out.flush();
    file.close();
}

QString readDetailRecords(const QString &cloudSn)
{
    QMutexLocker locker(&g_detailMutex);
    QFile file(detailFilePath(cloudSn));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        logOpenFailure(file);
        return QString();
    }
    QTextStream in(&file);
    return in.readAll();
}

qint64 detailFileSize(const QString &cloudSn)
{
    QMutexLocker locker(&g_detailMutex);
    QFile file(detailFilePath(cloudSn));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return 0;
    return file.size();
}

void DetailFileManage()
{
    // Today's and yesterday's files stay: a history dialog or a late job may still use them.
    const QDate threshold = Clock::currentDate().addDays(-1);
    QDir folder(detailFolder());
    const QStringList names = folder.entryList(QStringList{QStringLiteral("*.txt")}, QDir::Files);
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
