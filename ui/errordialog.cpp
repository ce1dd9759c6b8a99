#include "errordialog.h"

#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

ErrorDialog::ErrorDialog(const QString &text, QWidget *parent)
    : QDialog(parent)
{
    // Tests find the program's messages by this name, whether shown modally or not.
    setObjectName(QStringLiteral("errorDialog"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(316, 206);
    setAttribute(Qt::WA_TranslucentBackground);

    auto *outer = new QVBoxLayout(this);
    auto *panel = new QWidget(this);
    panel->setStyleSheet(QStringLiteral(
        ".QWidget{background-color: rgba(255, 255, 255,0);"
        "background-image:url(:/image/resource/dlgbackground.png);border:none;border-radius:7px;}"));
    outer->addWidget(panel);
    auto *inner = new QVBoxLayout(panel);

    auto *topRow = new QHBoxLayout;
    topRow->addStretch(1);
    auto *closeButton = new QPushButton(panel);
    closeButton->setFixedSize(16, 16);
    closeButton->setStyleSheet(
        QStringLiteral("QPushButton{background-color:rgba(255, 255, 255,0);"
                       "border-image:url(:/image/resource/dlgexit.png);border:none;}"));
    connect(closeButton, &QPushButton::clicked, this, &QDialog::close);
    topRow->addWidget(closeButton);
    topRow->addSpacing(10);

    auto *middleRow = new QHBoxLayout;
    auto *message = new QLabel(text, panel);
    message->setStyleSheet(QStringLiteral("{background-color:rgba(100, 100, 55,255);font-size:16px;}"));
    message->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    message->setWordWrap(true);
    message->setContentsMargins(20, 0, 20, 0);
    middleRow->addWidget(message, 1);

    auto *bottomRow = new QHBoxLayout;
    bottomRow->addStretch(1);
    auto *okButton = new QPushButton(QStringLiteral("确定"), panel);
    okButton->setFixedSize(65, 30);
    okButton->setStyleSheet(
        QStringLiteral("QPushButton{color:#ffffff;background-color:#0A1728;border-style:solid;font-size:14px;"
                       "border-radius:5px;border-width:1px;}"));
    connect(okButton, &QPushButton::clicked, this, &QDialog::close);
    bottomRow->addWidget(okButton);
    bottomRow->addStretch(1);

    inner->addSpacing(10);
    inner->addLayout(topRow);
    inner->addLayout(middleRow);
    inner->addLayout(bottomRow);
    inner->addSpacing(23);
    setLayout(outer);
}

void ErrorDialog::showMessage(const QString &text, QWidget *parent)
{
    // What the user was told belongs beside the failure that caused it.
    qInfo() << "ErrorDialog showMessage" << text;
    ErrorDialog dialog(text, parent);
    dialog.exec();
}

ErrorDialog *ErrorDialog::showNonModal(const QString &text, QWidget *parent)
{
    qInfo() << "ErrorDialog showNonModal" << text;
    auto *dialog = new ErrorDialog(text, parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::NonModal);
    dialog->show();
    return dialog;
}
