#ifndef DRIVERITEMFORM_H
#define DRIVERITEMFORM_H

#include <QString>

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
    static constexpr int kCardHeight = 170;

    // The look of every card, for the widget that holds them all; a card made without a parent
    // applies it to itself.
    static QString styleSheet();

    void setupUi(QWidget *card);

    // The two fields' looks in the card's two modes; back in view mode the row is placed again for
    // the serial it now shows.
    void showViewMode();
    void showEditMode();
    void showSavedViewMode();

    // The last job's outcome under the state: its result, document and time, green for success,
    // red for a failure. The document is shortened to fit; the tooltip holds the whole line.
    void showLastResult(const QString &result, const QString &document, const QString &handledAt);

    QWidget *inner = nullptr;
    QGroupBox *groupBox = nullptr;
    QLabel *nameCaption = nullptr;
    QLineEdit *nameEdit = nullptr;
    QLabel *serialCaption = nullptr;
    QLineEdit *serialEdit = nullptr;
    QLabel *stateCaption = nullptr;
    QLineEdit *stateEdit = nullptr;
    QLabel *resultLabel = nullptr;
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

private:
    // What the fonts of the caption row and the result line measure.
    struct RowMetrics
    {
        int nameWidth = 0;
        int stateWidth = 0;
        int fieldHeight = 0;
        int resultHeight = 0;
        int nameCaptionWidth = 0;
        int serialCaptionWidth = 0;
        int stateCaptionWidth = 0;
    };
    RowMetrics rowMetrics() const;
    // Places the caption row and the result line for the fonts the fields really have, so that the
    // longest text each field may hold is shown whole.
    void placeTopRow();
};

#endif // DRIVERITEMFORM_H
