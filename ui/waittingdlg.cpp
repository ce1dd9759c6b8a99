#include "waittingdlg.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMovie>

WaittingDlg::WaittingDlg(QWidget *parent)
    : QDialog(parent)
    , m_label(new QLabel(this))
{
    setFixedSize(75, 75);
    setStyleSheet(QStringLiteral("background:white;border-radius:37px"));
    m_label->setStyleSheet(QStringLiteral("background:transparent;border-radius:37px"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    m_label->setContentsMargins(0, 0, 0, 0);

    m_movie = new QMovie(QStringLiteral(":/image/resource/waitting_01.gif"));
    m_label->setMovie(m_movie);
}

WaittingDlg::~WaittingDlg()
{
    delete m_movie;
}

void WaittingDlg::startWaiting()
{
    m_movie->start();
    show();
}

void WaittingDlg::stopWaiting()
{
    m_movie->stop();
    close();
}

void WaittingDlg::keyPressEvent(QKeyEvent *event)
{
    // The work it stands for goes on whatever the user presses; only its end may take it down.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
