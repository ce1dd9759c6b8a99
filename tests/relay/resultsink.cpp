#include "resultsink.h"

#include "testtiming.h"

#include <QJsonObject>
#include <QTest>

QString ResultSink::jobneed(int i) const
{
    return results.at(i)
        .document.object()
        .value(QStringLiteral("jobneed"))
        .toString(QStringLiteral("<none>"));
}

int ResultSink::jobSize(int i) const
{
    return results.at(i).document.object().value(QStringLiteral("jobSize")).toInt(-1);
}

QString ResultSink::jobId(int i) const
{
    return results.at(i)
        .document.object()
        .value(QStringLiteral("data"))
        .toObject()
        .value(QStringLiteral("tolvixId"))
        .toString();
}

void ResultSink::onResult(QNetworkReply::NetworkError error, const QJsonDocument &document)
{
    results.append({ error, document });
}

bool ResultSink::waitFor(int count, int timeoutMs)
{
    return QTest::qWaitFor([this, count] { return results.size() >= count; }, TestTiming::scaled(timeoutMs));
}
