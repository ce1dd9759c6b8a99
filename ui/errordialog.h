#ifndef ERRORDIALOG_H
#define ERRORDIALOG_H

#include <QDialog>

// The program's own modal message box: a message, a close mark and an OK button.
class ErrorDialog : public QDialog
{
public:
    explicit ErrorDialog(const QString &text, QWidget *parent = nullptr);

    // Shows `text` modally in a dialog of its own and destroys it once closed.
    static void showMessage(const QString &text, QWidget *parent = nullptr);
};

#endif // ERRORDIALOG_H
