#ifndef WAITTINGDLG_H
#define WAITTINGDLG_H

#include <QDialog>

class QKeyEvent;
class QLabel;
class QMovie;

// The round busy indicator the main window shows while a printer is being added.
class WaittingDlg : public QDialog
{
    Q_OBJECT

public:
    explicit WaittingDlg(QWidget *parent = nullptr);
    ~WaittingDlg() override;

    void startWaiting();
    void stopWaiting();

    QMovie *movie() const { return m_movie; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    QMovie *m_movie = nullptr;
    QLabel *m_label = nullptr;
};

#endif // WAITTINGDLG_H
