#ifndef JOBINFLIGHT_H
#define JOBINFLIGHT_H

#include <QMetaType>
#include <QString>

// Where a job stands on its way from the spooler to its recorded result, as the user may see it.
struct JobInFlight
{
    enum class Stage {
        Receiving, // the spooler is still sending it
        Waiting, // whole, in line behind an earlier job of the printer
        Uploading, // its post is under way
        WaitingForRetry, // the service could not be reached; the post is tried again
        Following, // the service has it; its result is being asked for
    };

    qint64 id = 0;
    // "document;submitted" as the spooler showed it, or empty.
    QString description;
    // Bytes of the job; 0 while it is still arriving.
    qint64 size = 0;
    Stage stage = Stage::Receiving;
    // Share of the post's body sent, 0 to 100, while uploading.
    int uploadPercent = 0;
};

#endif // JOBINFLIGHT_H
