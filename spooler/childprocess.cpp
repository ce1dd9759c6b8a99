#include "childprocess.h"

#include <QProcess>
#include <QStringList>

#include "printuicommand.h"
#include "programwaits.h"

namespace {

int capped(int ms)
{
    const int cap = ProgramWaits::current().childProcessLimitCapMs;
    return cap >= 0 && cap < ms ? cap : ms;
}

} // namespace

ChildProcess::Outcome ChildProcess::run(const QString &commandLine, int startLimitMs, int finishLimitMs)
{
    QStringList arguments = QProcess::splitCommand(commandLine);
    if (arguments.isEmpty())
        return NotStarted;
    QString program = arguments.takeFirst();
    if (program.compare(QLatin1String("RUNDLL32"), Qt::CaseInsensitive) == 0)
        program = rundll32Program();

    QProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    if (!process.waitForStarted(capped(startLimitMs)))
        return NotStarted;
    if (!process.waitForFinished(capped(finishLimitMs))) {
        process.kill();
        process.waitForFinished(5000);
        return TimedOut;
    }
    return Finished;
}
