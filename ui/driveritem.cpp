#include "driveritem.h"

#include "cardshadow.h"
#include "cloudprotocol.h"
#include "cloudserial.h"
#include "cprinter.h"
#include "detailfile.h"
#include "errordialog.h"
#include "logging.h"
#include "printeroutbox.h"
#include "printerrecordstore.h"
#include "printresulttext.h"
#include "programwaits.h"
#include "qcircleprocess.h"
#include "removeprinterthread.h"
#include "settingsdlg.h"
#include "statethread.h"
#include "testpagethread.h"
#include "threadlifetime.h"

#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QPainter>
#include <QPushButton>
#include <QStyleOption>
#include <QTimer>

namespace {

// A card not built yet has no spinners to stop.
void stopSpinner(QCircleProcess *spinner)
{
    if (spinner)
        spinner->stopAnimation();
}

} // namespace

DriverItem::DriverItem(const DriverInfo &info, QWidget *parent, QNetworkAccessManager *network)
    : QWidget(parent)
    , m_info(info)
{
    // The card's widgets are made when it is first painted or asked for (see ensureBuilt); until
    // then it only keeps its place in the list.
    setFixedHeight(DriverItemForm::kCardHeight);

    m_manager = network ? network : new QNetworkAccessManager(this);
    const ProgramWaits waits = ProgramWaits::current();
    m_devStateRequest.setUrl(QUrl(deviceStateUrl(waits.cloudServiceBase)));
    m_devStateRequest.setHeader(QNetworkRequest::ContentTypeHeader, cloudContentType());
    // A service that takes the query and never answers would leave the state as it was for good.
    m_devStateRequest.setTransferTimeout(waits.cloudReplyTimeoutMs);
    postDevState("oninit and postReply=");

    m_stateTimer = new QTimer(this);
    m_stateTimer->setInterval(1000);
    connect(m_stateTimer, &QTimer::timeout, this, &DriverItem::on_StateTimeout);
    m_devStateTimer = new QTimer(this);
    m_devStateTimer->setInterval(5000);
    connect(m_devStateTimer, &QTimer::timeout, this, &DriverItem::on_DevStateTimeout);
    m_devStateTimer->start();
}

const DriverItemForm &DriverItem::form() const
{
    const_cast<DriverItem *>(this)->ensureBuilt();
    return m_form;
}

DriverItemForm &DriverItem::ui()
{
    ensureBuilt();
    return m_form;
}

void DriverItem::ensureBuilt()
{
    if (m_form.inner)
        return;
    m_form.setupUi(this);
    m_form.nameEdit->setText(m_info.printer_name);
    m_form.serialEdit->setText(m_info.cloud_sn);
    connect(m_form.refreshButton, &QPushButton::clicked, this, &DriverItem::onDevStateClicked);
    connect(m_form.detailButton, &QPushButton::clicked, this, &DriverItem::onStateClicked);
    connect(m_form.testButton, &QPushButton::clicked, this, &DriverItem::onTestClicked);
    connect(m_form.modifyButton, &QPushButton::clicked, this, &DriverItem::onModifyClicked);
    connect(m_form.deleteButton, &QPushButton::clicked, this, &DriverItem::onDeleteClicked);
    // What arrived before the widgets existed.
    refreshStateText();
    m_form.showLastResult(m_lastResult.result, m_lastResult.document, m_lastResult.handledAt);
    if (isVisible())
        m_form.inner->show();
}

void DriverItem::paintEvent(QPaintEvent *event)
{
    // Only cards in sight are painted: over many printers most wait unbuilt below the fold. The
    // widgets are made right after this paint, not inside it.
    if (!m_form.inner && !m_buildQueued) {
        m_buildQueued = true;
        QTimer::singleShot(0, this, &DriverItem::ensureBuilt);
    }
    // Lets style sheets paint the card's background.
    QWidget::paintEvent(event);
    QStyleOption option;
    option.initFrom(this);
    QPainter painter(this);
    style()->drawPrimitive(QStyle::PE_Widget, &option, &painter, this);
    if (m_form.inner) {
        const QRect panel = m_form.inner->geometry();
        painter.drawImage(CardShadow::origin(panel), CardShadow::image(panel.size(), devicePixelRatioF()));
    }
}

// ---- device state ----

void DriverItem::postDevState(const char *logText)
{
    QJsonObject body;
    body.insert(QStringLiteral("tvNumber"), m_info.cloud_sn);
    QNetworkReply *reply = m_manager->post(m_devStateRequest, QJsonDocument(body).toJson());
    // The client may be shared and outlive the card: a query still on its way goes with the card.
    reply->setParent(this);
    connect(reply, &QNetworkReply::finished, this, [this, reply] { devStateReceive(reply); });
    qDebug() << logText << reply;
}

void DriverItem::onDevStateClicked(bool checked)
{
    Q_UNUSED(checked)
    ui().refreshSpinner->startAnimation();
    postDevState("onDevStateClicked and postReply=");
}

void DriverItem::on_DevStateTimeout()
{
    postDevState("on_DevStateTimeout and postReply=");
}

void DriverItem::devStateReceive(QNetworkReply *reply)
{
    if (reply->error() == QNetworkReply::NoError) {
        const QByteArray text = reply->readAll();
        qDebug().noquote() << "devStateReceive" << logExcerpt(text);
        switch (deviceState(QJsonDocument::fromJson(text))) {
        case DeviceState::Unknown:
            break;
        case DeviceState::Offline:
            showDeviceState(QStringLiteral("离线"));
            m_devStateTimer->setInterval(10000);
            break;
        case DeviceState::Online:
            showDeviceState(QStringLiteral("在线"));
            m_devStateTimer->setInterval(300000);
            break;
        }
    } else {
        qDebug() << QStringLiteral("devStateReceive receive err: %1, code: %2")
                        .arg(reply->errorString(), QString::number(int(reply->error())));
        showDeviceState(QStringLiteral("--"));
    }
    stopSpinner(m_form.refreshSpinner);
    reply->deleteLater();
}

// ---- modify ----

void DriverItem::onModifyClicked(bool checked)
{
    Q_UNUSED(checked)
    if (m_viewMode) {
        m_viewMode = false;
        ui().showEditMode();
        return;
    }
    saveChanges();
}

void DriverItem::saveChanges()
{
    const QString serial = ui().serialEdit->text().toUpper();
    ui().serialEdit->setText(serial);
    const QString name = ui().nameEdit->text();

    if (serial == m_info.cloud_sn && name == m_info.printer_name) {
        m_viewMode = true;
        ui().showViewMode();
        return;
    }
    // A double quote would break out of its argument in the installer's command line of the test
    // page; refuse it before anything is changed.
    if (name != m_info.printer_name && name.contains(QLatin1Char('"'))) {
        ErrorDialog::showMessage(QStringLiteral("打印机名无效!"));
        return;
    }
    if (serial != m_info.cloud_sn && !changeSerial(serial))
        return;
    if (name != m_info.printer_name) {
        if (!changeName(name))
            return;
    } else {
        ui().nameEdit->setText(m_info.printer_name);
    }
    m_viewMode = true;
    ui().showSavedViewMode();
}

bool DriverItem::changeSerial(const QString &serial)
{
    if (serial.isEmpty()) {
        ErrorDialog::showMessage(QStringLiteral("请输入云序号!"));
        return false;
    }
    if (!isCloudSerial(serial)) {
        ErrorDialog::showMessage(QStringLiteral("云序号输入错误!"));
        return false;
    }
    const int result = CPrinter().SetCloudPrinterId(m_info.printer_name, serial);
    if (result == -1) {
        ErrorDialog::showMessage(QStringLiteral("打印机名无效!"));
        return false;
    }
    if (result != 0) {
        ErrorDialog::showMessage(QStringLiteral("修改云序号失败!"));
        return false;
    }
    m_info.cloud_sn = serial;
    emit driverInfoChanged(m_info);
    updatePrinterRecord(m_info.printer_name, QStringLiteral("cloud_sn"), sqlTextLiteral(serial));
    return true;
}

bool DriverItem::changeName(const QString &name)
{
    if (!CPrinter().RenamePrinter(m_info.printer_name, name)) {
        ErrorDialog::showMessage(QStringLiteral("修改打印机名失败!"));
        return false;
    }
    updatePrinterRecord(m_info.printer_name, QStringLiteral("printer_name"), sqlTextLiteral(name));
    m_info.printer_name = name;
    emit driverInfoChanged(m_info);
    return true;
}

// ---- test page, history, delete ----

void DriverItem::onTestClicked(bool checked)
{
    Q_UNUSED(checked)
    if (m_testPageThread) {
        qDebug() << "onTestClicked: the test page is still being printed";
        return;
    }
    ui().testSpinner->startAnimation();
    // The installer may take its full limit; the window goes on meanwhile. The spinner stops when
    // the page's result is known.
    m_testPageThread = new TestPageThread(m_info.printer_name, nullptr);
    deleteWhenEnded(m_testPageThread);
    m_testPageThread->start(QThread::InheritPriority);
}

bool DriverItem::isPrintingTestPage() const
{
    return !m_testPageThread.isNull();
}

void DriverItem::setOutbox(PrinterOutbox *outbox)
{
    m_outbox = outbox;
}

void DriverItem::onStateClicked(bool checked)
{
    Q_UNUSED(checked)
    SettingsDlg dialog(m_info.printer_name, m_info.cloud_sn, window());
    dialog.setOutbox(m_outbox);
    dialog.exec();
}

void DriverItem::onDeleteClicked(bool checked)
{
    Q_UNUSED(checked)
    if (m_removing) {
        qDebug() << "onDeleteClicked: a removal is already under way for" << m_info.printer_name;
        return;
    }
    m_removing = true;
    if (!confirmDelete()) {
        m_removing = false;
        return;
    }
    startRemoval();
}

bool DriverItem::confirmDelete()
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("注意"),
        QStringLiteral("确定删除打印机 %1？").arg(m_info.printer_name),
        QMessageBox::Yes | QMessageBox::Cancel, window());
    box.button(QMessageBox::Yes)->setText(QStringLiteral("确定"));
    box.button(QMessageBox::Cancel)->setText(QStringLiteral("取消"));
    // Enter on an unread question keeps the printer.
    box.setDefaultButton(QMessageBox::Cancel);
    box.setEscapeButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Yes;
}

void DriverItem::startRemoval()
{
    m_removeThread = new RemovePrinterThread(m_info, nullptr);
    deleteWhenEnded(m_removeThread);
    connect(m_removeThread, &RemovePrinterThread::removeResult, this,
        [this](bool ret, QString msg, DriverInfo driverinfo) {
            // A removal that failed leaves the printer in place: it may be deleted again.
            if (!ret)
                m_removing = false;
            emit removeResult(ret, msg, driverinfo);
        });
    m_removeThread->start(QThread::InheritPriority);
}

// ---- print result tracking ----

void DriverItem::onPostWaiting(bool waiting)
{
    m_postWaiting = waiting;
    refreshStateText();
}

void DriverItem::onPortTaken(bool taken)
{
    m_portTaken = taken;
    refreshStateText();
}

void DriverItem::showDeviceState(const QString &text)
{
    m_deviceState = text;
    refreshStateText();
}

void DriverItem::refreshStateText()
{
    if (!m_form.stateEdit)
        return;
    if (m_portTaken)
        m_form.stateEdit->setText(QStringLiteral("端口被占用"));
    else if (m_postWaiting)
        m_form.stateEdit->setText(QStringLiteral("等待重试"));
    else
        m_form.stateEdit->setText(m_deviceState);
}

void DriverItem::endJob(
    const CardJob &job, const QString &result, const QString &handledAt, const QString &dialogText)
{
    stopSpinner(m_form.testSpinner);
    appendDetailRecord(m_info.cloud_sn, jobDetailRecord(job.jobneed(), result, job.size(), handledAt));
    emit jobRecorded(result);
    emit portBusy(false);
    m_queryInFlight = false;
    tellOutcome(job, result, handledAt, dialogText);
}

void DriverItem::endFollowedJob(const QString &result, const QString &handledAt, const QString &dialogText)
{
    const CardJob job = m_followedJob;
    stopSpinner(m_form.testSpinner);
    appendDetailRecord(m_info.cloud_sn, jobDetailRecord(job.jobneed(), result, job.size(), handledAt));
    emit jobRecorded(result);
    stopFollowing();
    m_queryInFlight = false;
    m_followedJob = CardJob();
    tellOutcome(job, result, handledAt, dialogText);
}

void DriverItem::tellOutcome(
    const CardJob &job, const QString &result, const QString &handledAt, const QString &dialogText)
{
    m_lastResult = { result, job.document(), handledAt };
    if (m_form.resultLabel)
        m_form.showLastResult(result, job.document(), handledAt);
    if (result != QStringLiteral("打印成功")) {
        emit jobFailed(result, job.document());
        // The failure may be the device's: the state shown must not wait for the next period.
        postDevState("after a failed job and postReply=");
    }
    // Without waiting for the user: this runs in a network slot, and a nested event loop here would
    // let the next job's events run inside it.
    if (job.isTestPage() && !dialogText.isEmpty())
        ErrorDialog::showNonModal(dialogText, ui().inner);
}

void DriverItem::stopFollowing()
{
    m_stateTimer->stop();
    emit portBusy(false);
    dropStateThread();
}

void DriverItem::dropStateThread()
{
    if (!m_stateThread)
        return;
    // A query it still has open was given up on; its late answer must not end a later job.
    disconnect(m_stateThread, nullptr, this, nullptr);
    m_stateThread->deleteLater();
    m_stateThread = nullptr;
}

void DriverItem::onCloudResut(QNetworkReply::NetworkError error, QJsonDocument jd)
{
    const QString handledAt = recordHandlingTime();
    const CardJob job = CardJob::fromPostOutcome(jd);

    if (error == QNetworkReply::NoError) {
        if (jd.isEmpty() || jd.isArray()) {
            qDebug() << "Invalid receive json";
            endJob(job, QStringLiteral("打印失败:网络访问异常"), handledAt, QString());
            return;
        }
        const QString jobId = cloudJobId(jd);
        // The outbox holds further jobs back while one is followed; should one come all the same,
        // the newer job is followed and the older poller goes.
        dropStateThread();
        m_queryInFlight = false;
        m_followedJob = job;
        m_stateThread = new StateThread(ProgramWaits::current().cloudServiceBase, jobId, m_manager, this);
        connect(m_stateThread, &StateThread::stateResule, this, &DriverItem::onStateResut);
        m_followStarted.start();
        emit portBusy(true);
        m_stateTimer->start();
        return;
    }
    qDebug() << QStringLiteral("Network error %1").arg(int(error));
    if (error == QNetworkReply::UnknownContentError) {
        // A job too large for the service: its test-page spinner would otherwise turn forever.
        endJob(job, QStringLiteral("打印失败:打印文件过大"), handledAt, QString());
        return;
    }
    endJob(job, QStringLiteral("打印失败:网络访问异常"), handledAt, QStringLiteral("打印失败:网络访问异常!"));
}

void DriverItem::on_StateTimeout()
{
    if (!m_stateThread)
        return;
    if (m_queryInFlight) {
        // The post had its bounded wait; a result query left unanswered would keep the port busy
        // for good, and every later job of the printer would wait behind it.
        if (m_queryStarted.hasExpired(ProgramWaits::current().cloudReplyTimeoutMs)) {
            qDebug() << QStringLiteral("Result query unanswered after %1 ms").arg(m_queryStarted.elapsed());
            onStateResut(QNetworkReply::OperationCanceledError, QJsonDocument());
        }
        return;
    }
    m_queryInFlight = true;
    m_queryStarted.start();
    m_stateThread->query();
}

void DriverItem::onStateResut(QNetworkReply::NetworkError error, QJsonDocument jd)
{
    const QString handledAt = recordHandlingTime();
    if (!m_stateThread) {
        // Only the poller of the job being followed reaches here; nothing is left to end.
        qDebug() << "result without a followed job ignored";
        return;
    }
    if (error != QNetworkReply::NoError) {
        qDebug() << QStringLiteral("Network error %1").arg(int(error));
        endFollowedJob(
            QStringLiteral("打印失败:网络访问异常"), handledAt, QStringLiteral("打印失败:网络访问异常!"));
        return;
    }
    if (jd.isEmpty() || jd.isArray()) {
        // The service took the job, so it keeps its record even though its result cannot be read:
        // the history must not lose a job the service was given.
        qDebug() << "Invalid receive json";
        endFollowedJob(
            QStringLiteral("打印失败:网络访问异常"), handledAt, QStringLiteral("打印失败:网络访问异常!"));
        return;
    }
    const QJsonValue data = jd.object().value(QStringLiteral("data"));
    if (data.isObject()) {
        const QString status = data.toObject().value(m_info.cloud_sn).toString();
        if (status.contains(QStringLiteral("正在打印"))) {
            m_queryInFlight = false;
            if (!m_followStarted.hasExpired(ProgramWaits::current().printingLimitMs)) {
                qDebug() << "继续查询状态";
                return;
            }
            // A job that never ends would hold the printer's queue for good.
            qDebug() << QStringLiteral("still printing after %1 ms, given up").arg(m_followStarted.elapsed());
            endFollowedJob(
                QStringLiteral("打印失败:网络访问异常"), handledAt, QStringLiteral("打印失败:网络访问异常!"));
            return;
        }
        qDebug() << "显示状态，任务完成";
        endFollowedJob(finalStatusResultText(status), handledAt, status);
        return;
    }
    const QString text = data.toVariant().toString();
    endFollowedJob(text, handledAt, text);
}
