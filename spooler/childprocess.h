#ifndef CHILDPROCESS_H
#define CHILDPROCESS_H

#include <QString>

// Runs one command line to its end within two time limits. A child that outlives its limit is
// killed: the caller has already given up on it and reports a failure, and an installer left
// running on its own could still create the printer after the caller said it failed.
class ChildProcess
{
public:
    enum Outcome { NotStarted, TimedOut, Finished };

    // The first word is the program (see rundll32Program for RUNDLL32); the rest is split into
    // arguments by the usual quoting rules. The exit code and output are not looked at.
    static Outcome run(const QString &commandLine, int startLimitMs, int finishLimitMs);
};

#endif // CHILDPROCESS_H
