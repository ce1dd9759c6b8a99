#include "dialogwatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

DialogWatcher::DialogWatcher(const QString &buttonText, QObject *parent)
    : QObject(parent)
    , m_buttonText(buttonText)
    , m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &DialogWatcher::poll);
    m_timer->start(10);
}

namespace {

// A message the program shows without waiting for it (a job's outcome, say).
QDialog *shownMessage()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *dialog = qobject_cast<QDialog *>(widget);
        if (dialog && dialog->isVisible() && !dialog->isModal()
            && dialog->objectName() == QLatin1String("errorDialog"))
            return dialog;
    }
    return nullptr;
}

} // namespace

void DialogWatcher::poll()
{
    auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
    if (!dialog || !dialog->isVisible())
        dialog = shownMessage();
    if (!dialog)
        return;
    if (auto *box = qobject_cast<QMessageBox *>(dialog)) {
        m_messages << box->text();
    } else {
        QStringList texts;
        for (QLabel *label : dialog->findChildren<QLabel *>()) {
            if (!label->text().isEmpty())
                texts << label->text();
        }
        // A dialog with nothing to read (the busy indicator) is the program's to close.
        if (texts.isEmpty())
            return;
        m_messages << texts.join(QLatin1Char('\n'));
    }
    for (QAbstractButton *button : dialog->findChildren<QAbstractButton *>()) {
        if (!m_buttonText.isEmpty() && button->text() == m_buttonText) {
            button->click();
            return;
        }
    }
    dialog->reject();
}
