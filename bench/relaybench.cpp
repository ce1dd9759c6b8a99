// The relay's benchmark: how fast, and in how much memory, the program takes a print job from the
// spooler's connection to the cloud service, beside what this machine allows and what a naive shell
// pipeline does. See bench/README.md.

#include "benchchild.h"
#include "benchrunner.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>

namespace {
const char kUsage[]
    = "Usage: relaybench [--sizes MIB,MIB,...] [--runs N] [--printers N] [--no-gib] [--four-gib] [--no-naive]\n"
      "                  [--upload-detail]\n"
      "       relaybench --smoke\n"
      "Relays jobs of each size (default 1,16,128,512 MiB; 3 runs each) through the program's\n"
      "relay to the cloud service stand-in and compares with the machine's limit and a shell\n"
      "pipeline; then a 1 GiB job and a 1 GiB + 1 byte job, and the main window's start-up\n"
      "over N cloud printers (default 200). --smoke: one 1 MiB run and 10 printers.\n"
      "--upload-detail adds the post of a finished body alone: over a plain socket, through\n"
      "the network access manager, and through its synchronous mode.\n"
      "Exit code 0 when every job arrived intact (targets are reported, not enforced).\n";

QList<int> sizesFrom(const QString &text, bool *ok)
{
    QList<int> sizes;
    *ok = true;
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        bool good = false;
        const int mib = part.toInt(&good);
        if (!good || mib <= 0 || mib > 1023)
            *ok = false;
        sizes.append(mib);
    }
    return sizes;
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
    if (kind == QLatin1String("startup") && argc > 4)
        return runStartupChild(
            argc, argv, QString::fromLocal8Bit(argv[3]).toInt(), QString::fromLocal8Bit(argv[4]));
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
            options.sizesMiB = sizesFrom(value, &ok);
            ++i;
        } else if (argument == QLatin1String("--runs")) {
            options.runs = value.toInt(&ok);
            ok = ok && options.runs > 0;
            ++i;
        } else if (argument == QLatin1String("--printers")) {
            options.printers = value.toInt(&ok);
            ok = ok && options.printers >= 0 && options.printers <= 900;
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
            options.printers = 10;
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
