#include "failurenotifier.h"

#include "courierconstants.h"

#include <QDebug>

constexpr qint64 FailureNotifier::kQuietMs;

FailureNotifier::FailureNotifier(QSystemTrayIcon *tray, QObject *parent, MonotonicClock clock)
    : QObject(parent)
    , m_tray(tray)
    , m_clock(std::move(clock))
{
    m_started.start();
    if (!m_clock)
        m_clock = [this] { return m_started.elapsed(); };
    connect(m_tray, &QSystemTrayIcon::messageClicked, this, &FailureNotifier::onMessageClicked);
}

bool FailureNotifier::notifyFailure(
    const QString &printerName, const QString &result, const QString &document)
{
    // Printer names compare without regard to case in the spooler, so they do here.
    const QString key = printerName.toCaseFolded();
    const qint64 now = m_clock();
    const auto last = m_lastShown.constFind(key);
    if (last != m_lastShown.constEnd() && now - last.value() < kQuietMs) {
        qDebug().noquote() << "tray message held back for" << printerName << result;
        return false;
    }
    m_lastShown.insert(key, now);
    QString message = QStringLiteral("打印机 %1：%2").arg(printerName, result);
    if (!document.isEmpty())
        message += QStringLiteral("\n文档：%1").arg(document);
    show(message, QSystemTrayIcon::Warning);
    m_shownPrinter = printerName;
    return true;
}

void FailureNotifier::showMessage(const QString &message, QSystemTrayIcon::MessageIcon icon)
{
    show(message, icon);
    m_shownPrinter.clear();
}

void FailureNotifier::show(const QString &message, QSystemTrayIcon::MessageIcon icon)
{
    qWarning().noquote() << "tray message:" << QString(message).replace(QLatin1Char('\n'), QLatin1Char(' '));
    m_tray->showMessage(QString::fromUtf8(COURIER_WINDOW_TITLE), message, icon);
    emit messageShown(message);
}

void FailureNotifier::onMessageClicked()
{
    if (!m_shownPrinter.isEmpty())
        emit historyRequested(m_shownPrinter);
}
