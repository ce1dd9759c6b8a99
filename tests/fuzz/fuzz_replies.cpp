// The program's handling of the cloud service's answers, fed whatever a service (or something in
// its place) might send: the print answer through the cloud client into the printer card, the
// result answer through the result poller into the card, the device-state answer into the card.
//
// Input: one byte that picks the exchange and the network error, one byte for the HTTP status,
// then the body. Besides the sanitizers' checks, every answer must leave the card in a state the
// program can go on from:
// - the print result always carries the job's own description and size, whatever the answer says;
// - a job the card stops following has its port freed and exactly one record appended, holding the
//   job's description, size and handling time; one it goes on following keeps its poll running;
// - the device state shows one of the texts the card knows, and polls at one of its periods.
#include "clock.h"
#include "cloud.h"
#include "courierconstants.h"
#include "detailfile.h"
#include "driveritem.h"
#include "fakereply.h"
#include "programwaits.h"
#include "statethread.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonObject>
#include <QLineEdit>
#include <QTimer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const char kSerial[] = "0123456789ABCDEF";
const char kJobneed[] = "report.docx;09:59:59";
const int kJobSize = 1234;
const char kHandledAt[] = "10:00:01";

const QNetworkReply::NetworkError kErrors[] = {
    QNetworkReply::NoError,
    QNetworkReply::NoError,
    QNetworkReply::NoError,
    QNetworkReply::NoError,
    QNetworkReply::UnknownContentError,
    QNetworkReply::ContentNotFoundError,
    QNetworkReply::OperationCanceledError,
    QNetworkReply::RemoteHostClosedError,
};
const int kStatuses[] = { 200, 200, 201, 204, 400, 404, 413, 500 };

struct Harness
{
    DriverItem *card = nullptr;
    int portFreed = 0;
    int portTaken = 0;
};

Harness *g_harness = nullptr;

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

[[noreturn]] void broken(const char *what)
{
    std::fprintf(stderr, "reply handling broke its promise: %s\n", what);
    std::abort();
}

void check(bool holds, const char *what)
{
    if (!holds)
        broken(what);
}

DriverInfo cardInfo()
{
    DriverInfo info;
    info.printer_name = QStringLiteral("Fuzz");
    info.cloud_sn = QLatin1String(kSerial);
    info.port_name = QStringLiteral("REDadez001");
    info.port_num = 8101;
    info.driver_name = QStringLiteral(COURIER_DRIVER_NAME);
    return info;
}

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The file as the history dialog reads it.
QString detailText()
{
    return readDetailRecords(QLatin1String(kSerial));
}

void clearDetails()
{
    QFile::resize(detailFilePath(QLatin1String(kSerial)), 0);
}

// One record appended, and it is this job's: its description first, its size and handling time last.
void checkOneRecord()
{
    const QString text = detailText();
    const QString head = QLatin1String(kJobneed) + QLatin1Char(';');
    const QString tail = QStringLiteral(";%1;%2!+!").arg(kJobSize).arg(QLatin1String(kHandledAt));
    check(text.startsWith(head) && text.endsWith(tail) && text.size() >= head.size() + tail.size(),
        "a job that ended has exactly its own record");
}

void checkFollowing(DriverItem *card)
{
    check(card->stateTimer()->isActive(), "a job that is followed keeps its poll running");
    check(detailText().isEmpty(), "a job still followed has no record yet");
}

// The card takes up a job as a successful post hands it over.
void startFollowing(Harness &h)
{
    QJsonObject answer { { QStringLiteral("jobneed"), QLatin1String(kJobneed) },
        { QStringLiteral("jobSize"), kJobSize },
        { QStringLiteral("data"), QJsonObject { { QStringLiteral("tolvixId"), QStringLiteral("J1") } } } };
    h.card->onCloudResut(QNetworkReply::NoError, QJsonDocument(answer));
    settle();
}

void printAnswer(Harness &h, QNetworkReply::NetworkError error, int status, const QByteArray &body)
{
    // A URL the client refuses keeps it from sending; the job's description and size stay set.
    Cloud *cloud = new Cloud(QString(), cardInfo());
    check(!cloud->request(QByteArray(kJobSize, 'x'), kJobSize, QLatin1String(kJobneed)), "no post is sent");
    int results = 0;
    QObject::connect(cloud, &Cloud::cloudResule, [&](QNetworkReply::NetworkError e, const QJsonDocument &jd) {
        ++results;
        check(e == error, "the network error is passed on");
        check(jd.isObject(), "the print result is an object");
        check(jd.object().value(QStringLiteral("jobneed")).toString() == QLatin1String(kJobneed),
            "the print result carries the job's own description");
        check(jd.object().value(QStringLiteral("jobSize")).toInt() == kJobSize,
            "the print result carries the job's own size");
        h.card->onCloudResut(e, jd);
    });
    const int freedBefore = h.portFreed;
    const int takenBefore = h.portTaken;
    auto *reply = new FakeReply(error, status, body);
    QMetaObject::invokeMethod(cloud, "cloudReceive", Qt::DirectConnection, Q_ARG(QNetworkReply *, reply));
    settle();
    check(results == 1, "every answer gives exactly one print result");
    if (h.portTaken > takenBefore) {
        checkFollowing(h.card);
    } else {
        check(h.portFreed == freedBefore + 1, "a job that is not followed frees its port");
        checkOneRecord();
    }
}

void resultAnswer(Harness &h, QNetworkReply::NetworkError error, int status, const QByteArray &body)
{
    startFollowing(h);
    clearDetails();
    StateThread poller(QStringLiteral("http://127.0.0.1:1"), QStringLiteral("J1"));
    QObject::connect(&poller, &StateThread::stateResule, h.card, &DriverItem::onStateResut);
    const int freedBefore = h.portFreed;
    auto *reply = new FakeReply(error, status, body);
    QMetaObject::invokeMethod(&poller, "cloudReceive", Qt::DirectConnection, Q_ARG(QNetworkReply *, reply));
    settle();
    if (h.portFreed == freedBefore) {
        // Only a status that says the job is still printing keeps the card following it.
        const QJsonObject data
            = QJsonDocument::fromJson(body).object().value(QStringLiteral("data")).toObject();
        check(error == QNetworkReply::NoError
                && data.value(QLatin1String(kSerial)).toString().contains(QStringLiteral("正在打印")),
            "only a job still printing goes on being followed");
        checkFollowing(h.card);
    } else {
        check(h.portFreed == freedBefore + 1, "a finished job frees its port once");
        check(!h.card->stateTimer()->isActive(), "a finished job is no longer polled");
        checkOneRecord();
    }
}

void deviceAnswer(Harness &h, QNetworkReply::NetworkError error, int status, const QByteArray &body)
{
    const QString shownBefore = h.card->form().stateEdit->text();
    const int periodBefore = h.card->devStateTimer()->interval();
    auto *reply = new FakeReply(error, status, body);
    QMetaObject::invokeMethod(h.card, "devStateReceive", Qt::DirectConnection, Q_ARG(QNetworkReply *, reply));
    settle();
    const QString shown = h.card->form().stateEdit->text();
    check(shown.isEmpty() || shown == QStringLiteral("在线") || shown == QStringLiteral("离线")
            || shown == QStringLiteral("--"),
        "the device state is one the card knows");
    const int period = h.card->devStateTimer()->interval();
    check(
        period == 5000 || period == 10000 || period == 300000, "the device is polled at one of its periods");
    if (error != QNetworkReply::NoError)
        check(shown == QStringLiteral("--"), "a failed query shows --");
    else if (!QJsonDocument::fromJson(body).isObject())
        check(shown == shownBefore && period == periodBefore,
            "an answer that is no JSON object states nothing");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Q_UNUSED(argc)
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int qtArgc = 1;
    static char *qtArgv[] = { (*argv)[0], nullptr };
    auto *app = new QApplication(qtArgc, qtArgv);
    qInstallMessageHandler(quiet);
    registerDriverInfoMetaType();
    QDir(app->applicationDirPath()).mkpath(QStringLiteral("details"));
    Clock::setFixedForTesting(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 1)));
    // The card's own device-state request goes nowhere and is never waited for.
    ProgramWaits waits;
    waits.cloudServiceBase = QStringLiteral("http://127.0.0.1:1");
    ProgramWaits::setForTesting(waits);
    g_harness = new Harness;
    g_harness->card = new DriverItem(cardInfo());
    g_harness->card->devStateTimer()->stop();
    QObject::connect(g_harness->card, &DriverItem::portBusy, [](bool busy) {
        if (busy)
            ++g_harness->portTaken;
        else
            ++g_harness->portFreed;
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    Harness &h = *g_harness;
    const QNetworkReply::NetworkError error = kErrors[(data[0] >> 2) % 8];
    const int status = kStatuses[data[1] % 8];
    const QByteArray body(reinterpret_cast<const char *>(data + 2), int(size - 2));
    clearDetails();
    switch (data[0] % 3) {
    case 0:
        printAnswer(h, error, status, body);
        break;
    case 1:
        resultAnswer(h, error, status, body);
        break;
    default:
        deviceAnswer(h, error, status, body);
        break;
    }
    return 0;
}
