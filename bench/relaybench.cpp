// The relay's benchmark: how fast, and in how much memory, the program takes a print job from the
// spooler's connection to the cloud service, beside what this machine allows and what a naive shell
// pipeline does. See bench/README.md.

#include "benchchild.h"
#include "benchrunner.h"
#include "windowchild.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {
const char kUsage[]
    = "Usage: relaybench [--sizes MIB,MIB,...] [--runs N] [--printers N,N,...] [--no-gib] [--four-gib]\n"
      "                  [--no-naive] [--upload-detail] [--no-responsive] [--responsive-printers N]\n"
      "                  [--responsive-mib N] [--no-history] [--history-records N]\n"
      "       relaybench --smoke\n"
      "Relays jobs of each size (default 1,16,128,512 MiB; 3 runs each) through the program's\n"
      "relay to the cloud service stand-in and compares with the machine's limit and a shell\n"
      "pipeline; then a 1 GiB job and a 4 GiB + 1 byte job, and the main window's start-up\n"
      "over each number of cloud printers (default 200,1000; 0 for none).\n"
      "Then the window's responsiveness: a 1 ms timer on its thread while the spooler sends one\n"
      "job (default 16 MiB) to each of 20 printers at once, with one printer's history dialog\n"
      "open over N records (default 10000); and that dialog alone: its opening and one refresh.\n"
      "--smoke: one 1 MiB run, 10 printers, 2 printers of 1 MiB jobs, 1000 records.\n"
      "--upload-detail adds the post of a finished body alone: over a plain socket, through\n"
      "the network access manager, and through its synchronous mode.\n"
      "Exit code 0 when every job arrived intact (targets are reported, not enforced).\n";

QList<int> numbersFrom(const QString &text, int least, int most, bool *ok)
{
    QList<int> numbers;
    *ok = true;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool good = false;
        const int number = part.toInt(&good);
        if (!good || number < least || number > most)
            *ok = false;
        numbers.append(number);
    }
    return numbers;
}

int numberFrom(const QString &text, int least, int most, bool *ok)
{
    const int number = text.toInt(ok);
    *ok = *ok && number >= least && number <= most;
    return number;
}

int runChild(int argc, char **argv)
{
    const QString kind = QString::fromLocal8Bit(argv[2]);
    if (kind == QLatin1String("limit"))
        return runLimitChild();
    if (kind == QLatin1String("relay") && argc > 3)
        return runRelayChild(argc, argv, QString::fromLocal8Bit(argv[3]));
    if (kind == QLatin1String("shell") && argc > 3)
        return runShellChild(QString::fromLocal8Bit(argv[3]));
    if (kind == QLatin1String("startup") && argc > 5)
        return runStartupChild(argc, argv, QString::fromLocal8Bit(argv[3]).toInt(),
            quint16(QString::fromLocal8Bit(argv[4]).toUInt()), QString::fromLocal8Bit(argv[5]));
    if (kind == QLatin1String("responsive") && argc > 6)
        return runResponsiveChild(argc, argv, QString::fromLocal8Bit(argv[3]).toInt(),
            quint16(QString::fromLocal8Bit(argv[4]).toUInt()), QString::fromLocal8Bit(argv[5]).toInt(),
            QString::fromLocal8Bit(argv[6]));
    if (kind == QLatin1String("history") && argc > 4)
        return runHistoryChild(argc, argv, QString::fromLocal8Bit(argv[3]).toInt(),
            quint16(QString::fromLocal8Bit(argv[4]).toUInt()));
    if (kind == QLatin1String("post") && argc > 5)
        return runPostChild(argc, argv, QString::fromLocal8Bit(argv[3]), QString::fromLocal8Bit(argv[4]),
            QString::fromLocal8Bit(argv[5]).toLongLong());
    std::fprintf(stderr, "relaybench: unknown child %s\n", argv[2]);
    return 2;
}
} // namespace

int main(int argc, char **argv)
{
    if (argc > 2 && qstrcmp(argv[1], "--child") == 0)
        return runChild(argc, argv);

    QCoreApplication app(argc, argv);
    BenchRunner::Options options;
    const QStringList arguments = app.arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        const QString value = arguments.value(i + 1);
        bool ok = true;
        if (argument == QLatin1String("--sizes")) {
            options.sizesMiB = numbersFrom(value, 1, 1023, &ok);
            ++i;
        } else if (argument == QLatin1String("--runs")) {
            options.runs = value.toInt(&ok);
            ok = ok && options.runs > 0;
            ++i;
        } else if (argument == QLatin1String("--printers")) {
            options.printers = numbersFrom(value, 0, BenchRunner::kMaxPrinters, &ok);
            options.printers.removeAll(0);
            ++i;
        } else if (argument == QLatin1String("--no-responsive")) {
            options.responsive = false;
        } else if (argument == QLatin1String("--responsive-printers")) {
            options.responsivePrinters = numberFrom(value, 1, 100, &ok);
            ++i;
        } else if (argument == QLatin1String("--responsive-mib")) {
            options.responsiveMiB = numberFrom(value, 1, 1023, &ok);
            ++i;
        } else if (argument == QLatin1String("--no-history")) {
            options.history = false;
        } else if (argument == QLatin1String("--history-records")) {
            options.historyRecords = numberFrom(value, 0, 1000000, &ok);
            ++i;
        } else if (argument == QLatin1String("--four-gib")) {
            options.fourGibibytes = true;
        } else if (argument == QLatin1String("--no-gib")) {
            options.gibibyte = false;
        } else if (argument == QLatin1String("--upload-detail")) {
            options.uploadDetail = true;
        } else if (argument == QLatin1String("--no-naive")) {
            options.naive = false;
        } else if (argument == QLatin1String("--smoke")) {
            options.sizesMiB = { 1 };
            options.runs = 1;
            options.gibibyte = false;
            options.printers = { 10 };
            options.responsivePrinters = 2;
            options.responsiveMiB = 1;
            options.historyRecords = 1000;
            options.smoke = true;
        } else {
            ok = false;
        }
        if (!ok) {
            std::fputs(kUsage, argument == QLatin1String("--help") ? stdout : stderr);
            return argument == QLatin1String("--help") ? 0 : 2;
        }
    }
    return BenchRunner(options).run();
}
