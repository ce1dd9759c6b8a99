#ifndef HTTPRESULT_H
#define HTTPRESULT_H

#include <QByteArray>
#include <QNetworkReply>

// One finished HTTP exchange, as a Qt client sees it.
struct HttpResult
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QByteArray contentType;
    bool finished = false;
};

#endif // HTTPRESULT_H
