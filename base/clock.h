#ifndef CLOCK_H
#define CLOCK_H

#include <QDateTime>

// The local time that dated files (the day's log, the day's job details) are named after.
// Tests fix it to cross midnight on purpose; the program always reads the system clock.
class Clock
{
public:
    static QDateTime currentDateTime();
    static QDate currentDate();

    static void setFixedForTesting(const QDateTime &localTime);
    static void resetForTesting();
};

#endif // CLOCK_H
