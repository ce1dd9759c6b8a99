#include "driveritemform.h"

#include "qcircleprocess.h"

#include <QGraphicsDropShadowEffect>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const char kCaptionLook[] = "font-weight:bold;font-size:14px;color:#000000;font-family:\"Microsoft YaHei\";";
const char kFieldViewLook[] = "QLineEdit{font-size:14px;color:#444444;background:transparent;border:none;}";
const char kFieldEditLook[] =
    "QLineEdit{font-size:14px;color:#707070;background-color:white;border:1px solid #707070;}";
const char kFieldSavedLook[] = "QLineEdit{color:#707070;background-color:white;border:none;}";
const char kButtonCaptionLook[] = "font-size:13px;color:#444444;font-family:\"Microsoft YaHei\";";
const char kActionButtonLook[] = "QPushButton{border:none;background:transparent;}";
const char kRefreshButtonLook[] =
    "QPushButton{border:none;border-radius:8px;background:transparent;}"
    "QPushButton:pressed{background-color:rgba(0,0,255,100);}";

QLabel *caption(QWidget *parent, const QString &text, const QRect &geometry, const char *look)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(geometry);
    label->setStyleSheet(QLatin1String(look));
    return label;
}

QLineEdit *field(QWidget *parent, const QString &text, int maxLength, const QRect &geometry)
{
    auto *edit = new QLineEdit(parent);
    edit->setMaxLength(maxLength);
    edit->setText(text);
    edit->setReadOnly(true);
    edit->setGeometry(geometry);
    edit->setStyleSheet(QLatin1String(kFieldViewLook));
    return edit;
}

QPushButton *iconButton(QWidget *parent, const char *image, const QRect &geometry, const char *look)
{
    auto *button = new QPushButton(parent);
    button->setGeometry(geometry);
    button->setIcon(QIcon(QLatin1String(image)));
    button->setIconSize(geometry.size());
    button->setStyleSheet(QLatin1String(look));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

} // namespace

void DriverItemForm::setupUi(QWidget *card)
{
    card->setFixedHeight(170);
    auto *cardLayout = new QVBoxLayout(card);

    inner = new QWidget(card);
    inner->setObjectName(QStringLiteral("cardInner"));
    // Rounded on the top-left and bottom-right corners only.
    inner->setStyleSheet(QStringLiteral(
        "QWidget#cardInner{background-color:white;border-top-left-radius:85px;"
        "border-bottom-right-radius:85px;border-top-right-radius:0px;border-bottom-left-radius:0px;}"));
    auto *shadow = new QGraphicsDropShadowEffect(inner);
    shadow->setBlurRadius(9);
    shadow->setColor(QColor(0, 0, 0, 50));
    shadow->setOffset(4, 4);
    inner->setGraphicsEffect(shadow);
    cardLayout->addWidget(inner);

    auto *innerLayout = new QVBoxLayout(inner);
    innerLayout->setSpacing(0);
    innerLayout->setContentsMargins(0, 0, 0, 0);
    groupBox = new QGroupBox(inner);
    groupBox->setStyleSheet(QStringLiteral("QGroupBox{border:none;background:transparent;}"));
    innerLayout->addWidget(groupBox);

    nameCaption = caption(groupBox, QStringLiteral("打印机名:"), QRect(50, 24, 60, 14), kCaptionLook);
    nameEdit = field(groupBox, QString(), 10, QRect(120, 26, 120, 11));
    serialCaption = caption(groupBox, QStringLiteral("云序列号:"), QRect(260, 24, 60, 14), kCaptionLook);
    serialEdit = field(groupBox, QString(), 16, QRect(330, 26, 120, 11));
    stateCaption = caption(groupBox, QStringLiteral("设备状态:"), QRect(500, 24, 60, 14), kCaptionLook);
    stateEdit = field(groupBox, QString(), 8, QRect(570, 24, 40, 14));

    refreshButton = iconButton(groupBox, ":/image/resource/refresh.png", QRect(615, 24, 16, 16), kRefreshButtonLook);
    refreshSpinner = new QCircleProcess(18, refreshButton);
    refreshSpinner->setColor(QColor(QStringLiteral("#0000ff")));

    separator = new QLabel(groupBox);
    separator->setGeometry(6, 56, 694, 1);
    separator->setStyleSheet(QStringLiteral("border:1px dashed #c6c6c6;"));

    detailButton = iconButton(groupBox, ":/image/resource/detail.png", QRect(88, 70, 39, 39), kActionButtonLook);
    testButton = iconButton(groupBox, ":/image/resource/test.png", QRect(248, 70, 39, 39), kActionButtonLook);
    testSpinner = new QCircleProcess(39, testButton);
    testSpinner->setColor(QColor(QStringLiteral("#ffffff")));
    modifyButton = iconButton(groupBox, ":/image/resource/modify.png", QRect(407, 70, 39, 39), kActionButtonLook);
    deleteButton = iconButton(groupBox, ":/image/resource/delete.png", QRect(567, 70, 39, 39), kActionButtonLook);

    detailCaption = caption(groupBox, QStringLiteral("打印详情"), QRect(82, 117, 55, 13), kButtonCaptionLook);
    testCaption = caption(groupBox, QStringLiteral("打印测试"), QRect(240, 117, 55, 13), kButtonCaptionLook);
    modifyCaption = caption(groupBox, QStringLiteral("修改打印机"), QRect(395, 117, 71, 16), kButtonCaptionLook);
    deleteCaption = caption(groupBox, QStringLiteral("删除打印机"), QRect(555, 117, 71, 16), kButtonCaptionLook);
}

void DriverItemForm::showEditMode()
{
    modifyCaption->setGeometry(405, 117, 71, 16);
    modifyCaption->setText(QStringLiteral("保存修改"));
    for (QLineEdit *edit : {serialEdit, nameEdit}) {
        edit->setReadOnly(false);
        edit->setStyleSheet(QLatin1String(kFieldEditLook));
    }
    serialEdit->setGeometry(330, 26, 120, 15);
    nameEdit->setGeometry(120, 26, 120, 15);
    serialEdit->setFocus();
}

void DriverItemForm::showViewMode()
{
    modifyCaption->setGeometry(395, 117, 71, 16);
    modifyCaption->setText(QStringLiteral("修改打印机"));
    for (QLineEdit *edit : {serialEdit, nameEdit}) {
        edit->setReadOnly(true);
        edit->setStyleSheet(QLatin1String(kFieldViewLook));
    }
    serialEdit->setGeometry(330, 26, 120, 11);
    nameEdit->setGeometry(120, 26, 120, 11);
}

void DriverItemForm::showSavedViewMode()
{
    // After a save the fields keep their edit-mode size with a borderless look.
    modifyCaption->setGeometry(395, 117, 71, 16);
    modifyCaption->setText(QStringLiteral("修改打印机"));
    for (QLineEdit *edit : {serialEdit, nameEdit}) {
        edit->setReadOnly(true);
        edit->setStyleSheet(QLatin1String(kFieldSavedLook));
    }
}
