#ifndef ERRORDIALOG_H
#define ERRORDIALOG_H

#include <QDialog>

// The program's own message box: a message, a close mark and an OK button.
class ErrorDialog : public QDialog
{
public:
    explicit ErrorDialog(const QString &text, QWidget *parent = nullptr);

    // Shows `text` modally in a dialog of its own and destroys it once closed.
    static void showMessage(const QString &text, QWidget *parent = nullptr);
    // Shows `text` without waiting for the user: for slots that must return at once (a job's
    // outcome, whose next events may end what the slot still holds). The dialog deletes itself
    // when closed, or goes with its parent.
    static ErrorDialog *showNonModal(const QString &text, QWidget *parent);
};

#endif // ERRORDIALOG_H
