#include "driveritemform.h"

#include "qcircleprocess.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QHash>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariant>

#include <algorithm>

namespace {

// Room a line edit needs beside its text: its inner margins, the edit look's border and the cursor.
const int kFieldSlack = 2 * 2 + 2 + 2 + 2;
const int kRowLeft = 30;
const int kCaptionGap = 4;
const int kGroupGap = 16;
// The result line ends above the dashed separator, which lies at y 56.
const int kResultBottom = 55;

// The whole look of the cards, applied once to the list that holds them: a sheet of its own on
// every widget of every card would be parsed and matched again for each of them, which over many
// printers is most of the window's start-up. Widgets pick their rule by object name or by the
// "look" property; a field's look follows its mode, the result line's its outcome.
const char kCardSheet[]
    = "*{background:transparent;border:none;}"
      "QWidget#cardInner{background-color:white;border-top-left-radius:85px;"
      "border-bottom-right-radius:85px;border-top-right-radius:0px;border-bottom-left-radius:0px;}"
      "QGroupBox#cardBody{border:none;background:transparent;}"
      "QLabel[look=\"caption\"]{font-weight:bold;font-size:14px;color:#000000;font-family:\"Microsoft "
      "YaHei\";}"
      "QLabel[look=\"buttonCaption\"]{font-size:13px;color:#444444;font-family:\"Microsoft YaHei\";}"
      "QLineEdit[look=\"view\"]{font-size:14px;color:#444444;background:transparent;border:none;}"
      "QLineEdit[look=\"edit\"]{font-size:14px;color:#707070;background-color:white;border:1px solid "
      "#707070;}"
      "QLineEdit[look=\"saved\"]{font-size:14px;color:#707070;background-color:white;border:none;}"
      "QPushButton[look=\"action\"]{border:none;background:transparent;}"
      "QPushButton[look=\"refresh\"]{border:none;border-radius:8px;background:transparent;}"
      "QPushButton[look=\"refresh\"]:pressed{background-color:rgba(0,0,255,100);}"
      "QLabel#cardSeparator{border:1px dashed #c6c6c6;}"
      "QLabel[look=\"success\"]{font-size:13px;font-family:\"Microsoft YaHei\";color:#1f8a3b;}"
      "QLabel[look=\"failure\"]{font-size:13px;font-family:\"Microsoft YaHei\";color:#d0342c;}";

// A widget's look is chosen by a property the sheet matches; a change takes effect once the style
// has seen the widget again.
void setLook(QWidget *widget, const char *look)
{
    if (widget->property("look").toByteArray() == look)
        return;
    widget->setProperty("look", QByteArray(look));
    if (widget->testAttribute(Qt::WA_WState_Polished)) {
        widget->style()->unpolish(widget);
        widget->style()->polish(widget);
        widget->update();
    }
}

QLabel *caption(QWidget *parent, const QString &text, const QRect &geometry, const char *look)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(geometry);
    setLook(label, look);
    return label;
}

QLineEdit *field(QWidget *parent, const QString &text, int maxLength, const QRect &geometry)
{
    auto *edit = new QLineEdit(parent);
    edit->setMaxLength(maxLength);
    edit->setText(text);
    edit->setReadOnly(true);
    edit->setGeometry(geometry);
    setLook(edit, "view");
    // A read-only field shows its text from the start; the whole text is in the tooltip.
    QObject::connect(edit, &QLineEdit::textChanged, edit, [edit](const QString &text) {
        edit->setToolTip(text);
        if (edit->isReadOnly())
            edit->setCursorPosition(0);
    });
    return edit;
}

int widestText(const QWidget *widget, const QStringList &texts)
{
    const QFontMetrics metrics = widget->fontMetrics();
    int widest = 0;
    for (const QString &text : texts)
        widest = std::max(widest, metrics.horizontalAdvance(text));
    return widest;
}

// The widest text a field may have to show, for the font it has.
int fieldWidth(QLineEdit *edit, const QStringList &samples)
{
    edit->ensurePolished();
    return widestText(edit, samples) + kFieldSlack;
}

int captionWidth(QLabel *label)
{
    label->ensurePolished();
    return widestText(label, { label->text() }) + 2;
}

QStringList repeatedSamples(const QString &characters, int count)
{
    QStringList samples;
    for (const QChar c : characters)
        samples << QString(count, c);
    return samples;
}

QHash<QString, QIcon> *g_icons = nullptr;

// Every card shows the same images: each is read and decoded once, not once a card.
QIcon sharedIcon(const char *image)
{
    if (!g_icons) {
        g_icons = new QHash<QString, QIcon>;
        // Pixmaps must go while the application still exists.
        qAddPostRoutine([] {
            delete g_icons;
            g_icons = nullptr;
        });
    }
    const QString path = QLatin1String(image);
    auto it = g_icons->find(path);
    if (it == g_icons->end())
        it = g_icons->insert(path, QIcon(path));
    return *it;
}

QPushButton *iconButton(QWidget *parent, const char *image, const QRect &geometry, const char *look)
{
    auto *button = new QPushButton(parent);
    button->setGeometry(geometry);
    button->setIcon(sharedIcon(image));
    button->setIconSize(geometry.size());
    setLook(button, look);
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

QString DriverItemForm::styleSheet()
{
    return QLatin1String(kCardSheet);
}

void DriverItemForm::setupUi(QWidget *card)
{
    card->setFixedHeight(kCardHeight);
    // A card on its own (not in the list, which holds the look for all of them) brings its look along.
    if (!card->parentWidget())
        card->setStyleSheet(styleSheet());
    auto *cardLayout = new QVBoxLayout(card);

    inner = new QWidget(card);
    // Rounded on the top-left and bottom-right corners only.
    inner->setObjectName(QStringLiteral("cardInner"));
    // Its shadow is the card's to paint (see CardShadow).
    cardLayout->addWidget(inner);

    auto *innerLayout = new QVBoxLayout(inner);
    innerLayout->setSpacing(0);
    innerLayout->setContentsMargins(0, 0, 0, 0);
    groupBox = new QGroupBox(inner);
    groupBox->setObjectName(QStringLiteral("cardBody"));
    innerLayout->addWidget(groupBox);

    nameCaption = caption(groupBox, QStringLiteral("打印机名:"), QRect(50, 24, 60, 14), "caption");
    nameEdit = field(groupBox, QString(), 10, QRect(120, 26, 120, 11));
    serialCaption = caption(groupBox, QStringLiteral("云序列号:"), QRect(260, 24, 60, 14), "caption");
    serialEdit = field(groupBox, QString(), 16, QRect(330, 26, 120, 11));
    stateCaption = caption(groupBox, QStringLiteral("设备状态:"), QRect(500, 24, 60, 14), "caption");
    stateEdit = field(groupBox, QString(), 8, QRect(570, 24, 40, 14));
    resultLabel = new QLabel(groupBox);
    resultLabel->setTextFormat(Qt::PlainText);

    refreshButton = iconButton(groupBox, ":/image/resource/refresh.png", QRect(615, 24, 16, 16), "refresh");
    refreshSpinner = new QCircleProcess(18, refreshButton);
    refreshSpinner->setColor(QColor(QStringLiteral("#0000ff")));

    separator = new QLabel(groupBox);
    separator->setGeometry(6, 56, 694, 1);
    separator->setObjectName(QStringLiteral("cardSeparator"));

    detailButton = iconButton(groupBox, ":/image/resource/detail.png", QRect(88, 70, 39, 39), "action");
    testButton = iconButton(groupBox, ":/image/resource/test.png", QRect(248, 70, 39, 39), "action");
    testSpinner = new QCircleProcess(39, testButton);
    testSpinner->setColor(QColor(QStringLiteral("#ffffff")));
    modifyButton = iconButton(groupBox, ":/image/resource/modify.png", QRect(407, 70, 39, 39), "action");
    deleteButton = iconButton(groupBox, ":/image/resource/delete.png", QRect(567, 70, 39, 39), "action");

    detailCaption = caption(groupBox, QStringLiteral("打印详情"), QRect(82, 117, 55, 13), "buttonCaption");
    testCaption = caption(groupBox, QStringLiteral("打印测试"), QRect(240, 117, 55, 13), "buttonCaption");
    modifyCaption = caption(groupBox, QStringLiteral("修改打印机"), QRect(395, 117, 71, 16), "buttonCaption");
    deleteCaption = caption(groupBox, QStringLiteral("删除打印机"), QRect(555, 117, 71, 16), "buttonCaption");

    showLastResult(QString(), QString(), QString());
    placeTopRow();
    // A serial set from outside (the card's own, a saved change) gets a field its width.
    QObject::connect(serialEdit, &QLineEdit::textChanged, serialEdit, [this] {
        if (serialEdit->isReadOnly())
            placeTopRow();
    });
}

DriverItemForm::RowMetrics DriverItemForm::rowMetrics() const
{
    // Style sheets give the fonts; they apply once a widget is polished.
    for (QWidget *widget : { static_cast<QWidget *>(nameCaption), static_cast<QWidget *>(serialCaption),
             static_cast<QWidget *>(stateCaption), static_cast<QWidget *>(resultLabel),
             static_cast<QWidget *>(nameEdit), static_cast<QWidget *>(stateEdit) })
        widget->ensurePolished();
    // Every card has the same fonts: what they measure is measured once.
    static QHash<QString, RowMetrics> measured;
    const QString fonts = nameCaption->font().key() + QLatin1Char('|') + nameEdit->font().key()
        + QLatin1Char('|') + stateEdit->font().key() + QLatin1Char('|') + resultLabel->font().key();
    const auto known = measured.constFind(fonts);
    if (known != measured.constEnd())
        return *known;
    RowMetrics metrics;
    metrics.nameWidth
        = fieldWidth(nameEdit, repeatedSamples(QStringLiteral("中國鑫WM"), nameEdit->maxLength()));
    metrics.stateWidth = fieldWidth(stateEdit,
        { QStringLiteral("端口被占用"), QStringLiteral("等待重试"), QStringLiteral("离线"),
            QStringLiteral("在线"), QStringLiteral("--") });
    metrics.fieldHeight = std::max(nameEdit->fontMetrics().height(), nameCaption->fontMetrics().height()) + 4;
    metrics.resultHeight = resultLabel->fontMetrics().height() + 2;
    metrics.nameCaptionWidth = captionWidth(nameCaption);
    metrics.serialCaptionWidth = captionWidth(serialCaption);
    metrics.stateCaptionWidth = captionWidth(stateCaption);
    measured.insert(fonts, metrics);
    return metrics;
}

void DriverItemForm::placeTopRow()
{
    const RowMetrics metrics = rowMetrics();
    const int nameWidth = metrics.nameWidth;
    // Serials are mostly digits, which most fonts give one width; sizing for sixteen of the widest
    // letter instead would push the row out of the card. The field follows the serial it shows.
    const int serialWidth
        = fieldWidth(serialEdit, { QString(serialEdit->maxLength(), QLatin1Char('0')), serialEdit->text() });
    const int stateWidth = metrics.stateWidth;
    const int fieldHeight = metrics.fieldHeight;
    const int resultHeight = metrics.resultHeight;
    const int resultTop = kResultBottom - resultHeight;
    const int rowTop = std::max(4, resultTop - 1 - fieldHeight);

    int x = kRowLeft;
    const auto place = [&](QLabel *label, QLineEdit *edit, int width, int labelWidth) {
        label->setGeometry(x, rowTop, labelWidth, fieldHeight);
        x += labelWidth + kCaptionGap;
        edit->setGeometry(x, rowTop, width, fieldHeight);
        x += width;
    };
    place(nameCaption, nameEdit, nameWidth, metrics.nameCaptionWidth);
    x += kGroupGap;
    place(serialCaption, serialEdit, serialWidth, metrics.serialCaptionWidth);
    x += kGroupGap;
    place(stateCaption, stateEdit, stateWidth, metrics.stateCaptionWidth);
    refreshButton->setGeometry(x + 4, rowTop + (fieldHeight - 16) / 2, 16, 16);
    const int rowEnd = x + 4 + 16;
    // Fonts wider than the card's room widen the card rather than cut a field.
    groupBox->setMinimumWidth(rowEnd + 4);

    resultLabel->setGeometry(kRowLeft, resultTop, rowEnd - kRowLeft, resultHeight);
}

void DriverItemForm::showLastResult(const QString &result, const QString &document, const QString &handledAt)
{
    const bool failed = !result.isEmpty() && result != QStringLiteral("打印成功");
    setLook(resultLabel, failed ? "failure" : "success");
    if (result.isEmpty()) {
        resultLabel->clear();
        resultLabel->setToolTip(QString());
        return;
    }
    const QString head = QStringLiteral("上次打印：%1").arg(result);
    const QString tail = QStringLiteral("  %1").arg(handledAt);
    const QString whole
        = document.isEmpty() ? QString(head + tail) : QString(head + QStringLiteral("  ") + document + tail);
    QString shown = whole;
    resultLabel->ensurePolished();
    const QFontMetrics metrics = resultLabel->fontMetrics();
    if (!document.isEmpty() && metrics.horizontalAdvance(whole) > resultLabel->width()) {
        const int room = resultLabel->width() - metrics.horizontalAdvance(head + QStringLiteral("  ") + tail);
        shown = head + QStringLiteral("  ") + metrics.elidedText(document, Qt::ElideMiddle, std::max(room, 0))
            + tail;
    }
    resultLabel->setText(shown);
    resultLabel->setToolTip(whole);
}

void DriverItemForm::showEditMode()
{
    modifyCaption->setGeometry(405, 117, 71, 16);
    modifyCaption->setText(QStringLiteral("保存修改"));
    for (QLineEdit *edit : { serialEdit, nameEdit }) {
        edit->setReadOnly(false);
        setLook(edit, "edit");
    }
    serialEdit->setFocus();
}

void DriverItemForm::showViewMode()
{
    modifyCaption->setGeometry(395, 117, 71, 16);
    modifyCaption->setText(QStringLiteral("修改打印机"));
    for (QLineEdit *edit : { serialEdit, nameEdit }) {
        edit->setReadOnly(true);
        setLook(edit, "view");
        edit->setCursorPosition(0);
    }
    placeTopRow();
}

void DriverItemForm::showSavedViewMode()
{
    // After a save the fields stay on white, without the edit border.
    modifyCaption->setGeometry(395, 117, 71, 16);
    modifyCaption->setText(QStringLiteral("修改打印机"));
    for (QLineEdit *edit : { serialEdit, nameEdit }) {
        edit->setReadOnly(true);
        setLook(edit, "saved");
        edit->setCursorPosition(0);
    }
    placeTopRow();
}
