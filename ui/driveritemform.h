#ifndef DRIVERITEMFORM_H
#define DRIVERITEMFORM_H

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QWidget;
class QCircleProcess;

// The widgets of a printer card, laid out at their fixed places, in the manner of a generated form.
class DriverItemForm
{
public:
    void setupUi(QWidget *card);

    // The two fields' looks and sizes in the card's two modes.
    void showViewMode();
    void showEditMode();
    void showSavedViewMode();

    QWidget *inner = nullptr;
    QGroupBox *groupBox = nullptr;
    QLabel *nameCaption = nullptr;
    QLineEdit *nameEdit = nullptr;
    QLabel *serialCaption = nullptr;
    QLineEdit *serialEdit = nullptr;
    QLabel *stateCaption = nullptr;
    QLineEdit *stateEdit = nullptr;
    QPushButton *refreshButton = nullptr;
    QLabel *separator = nullptr;
    QPushButton *detailButton = nullptr;
    QPushButton *testButton = nullptr;
    QPushButton *modifyButton = nullptr;
    QPushButton *deleteButton = nullptr;
    QLabel *detailCaption = nullptr;
    QLabel *testCaption = nullptr;
    QLabel *modifyCaption = nullptr;
    QLabel *deleteCaption = nullptr;
    QCircleProcess *testSpinner = nullptr;
    QCircleProcess *refreshSpinner = nullptr;
};

#endif // DRIVERITEMFORM_H
