#ifndef FAKEREPLY_H
#define FAKEREPLY_H

#include <QByteArray>
#include <QNetworkReply>

// A finished network reply that holds a given answer: the network error, the HTTP status and the
// body, as the network layer would hand them to the program's reply handlers.
class FakeReply : public QNetworkReply
{
    Q_OBJECT
public:
    FakeReply(
        QNetworkReply::NetworkError error, int status, const QByteArray &body, QObject *parent = nullptr);

    void abort() override { }
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;

private:
    QByteArray m_body;
    qint64 m_offset = 0;
};

#endif // FAKEREPLY_H
