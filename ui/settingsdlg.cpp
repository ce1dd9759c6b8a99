#include "settingsdlg.h"

#include "clock.h"
#include "keptjobmatch.h"
#include "printeroutbox.h"
#include "spoolerjobs.h"

#include <QButtonGroup>
#include <QDebug>
#include <QCursor>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char kTableLook[] =
    "QTableWidget::item:hover{background-color:rgba(92,188,227,200)}"
    "QTableWidget::item:selected{background-color:rgba(92,188,227,200)}"
    "QHeaderView::section,QTableCornerButton:section{                 padding:3px; margin:0px; "
    "color:#DCDCDC;  border:1px solid #242424;         border-left-width:0px; border-right-width:1px; "
    "border-top-width:0px; border-bottom-width:1px;     "
    "background:qlineargradient(spread:pad,x1:0,y1:0,x2:0,y2:1,stop:0 #ff64ff,stop:1 #5252ff); }"
    "QTableWidget{background-color:white;border:1px solid #666666;}";

const char kDaySwitchLook[]
    = "QPushButton{color:white;background-color:rgba(255,255,255,0);border:1px solid rgba(255,255,255,120);"
      "border-radius:4px;}"
      "QPushButton:checked{background-color:rgba(92,188,227,200);border-color:rgba(92,188,227,255);}";

const char kResendLook[] =
    "QPushButton{color:white;background-color:#0A1728;border:none;border-radius:4px;font-size:12px;}"
    "QPushButton:disabled{background-color:#9a9a9a;}";

enum Column { NumberColumn, DocumentColumn, StatusColumn, SizeColumn, SubmittedColumn, HandledColumn, ActionColumn };

} // namespace

SettingsDlg::SettingsDlg(const QString &printerName, const QString &cloudSn, QWidget *parent)
    : QDialog(parent)
    , m_printerName(printerName)
    , m_cloudSn(cloudSn)
    , m_reader(cloudSn, Clock::currentDate())
{
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground);
    const QPoint origin = parent ? parent->pos() : QPoint();
    setGeometry(origin.x() + 120, origin.y() + 50, 710, 500);

    auto *layout = new QVBoxLayout(this);
    auto *panel = new QWidget;
    panel->setStyleSheet(QStringLiteral(
        ".QWidget{background-color: rgba(230, 230, 230,255);border:none;border-radius:7px;}"));
    layout->addWidget(panel);
    setupTable(panel);
    setupTitleBar(panel);
    setupDaySwitch();

    // The spooler's queue joins at the first refresh, a second from now.
    readNewHistory();
    showRows({});

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &SettingsDlg::on_Timeout);
    m_timer->start();
}

void SettingsDlg::setupTable(QWidget *panel)
{
    m_table = new QTableWidget(panel);
    m_table->setGeometry(20, 60, 650, 400);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->setMouseTracking(true);
    m_table->setStyleSheet(QLatin1String(kTableLook));
    connect(m_table, &QTableWidget::itemEntered, this, &SettingsDlg::slotItemEnter);
    // The view's own tooltip handling would hide ours a moment after it shows: none of our cells
    // holds a tooltip of its own, the cut-off text is measured when the mouse comes.
    m_table->viewport()->installEventFilter(this);

    QFont font(QStringLiteral("song"));
    font.setPixelSize(14);
    m_table->setFont(font);
    m_table->setColumnCount(7);
    m_table->setHorizontalHeaderLabels({QStringLiteral("序号"), QStringLiteral("文档名称"),
                                        QStringLiteral("任务状态"), QStringLiteral("数据大小"),
                                        QStringLiteral("提交时间"), QStringLiteral("处理时间"),
                                        QStringLiteral("操作")});
    m_table->horizontalHeader()->setVisible(true);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setDefaultSectionSize(100);
    m_table->verticalHeader()->setDefaultSectionSize(30);
    // The action column, last, takes what the others leave.
    const int widths[] = {50, 120, 130, 80, 100, 90};
    for (int column = 0; column < 6; ++column)
        m_table->setColumnWidth(column, widths[column]);

    QFont headerFont = m_table->horizontalHeader()->font();
    headerFont.setBold(true);
    headerFont.setWeight(75);
    headerFont.setFamily(QStringLiteral("song"));
    headerFont.setPixelSize(16);
    m_table->horizontalHeader()->setFont(headerFont);
}

void SettingsDlg::setupTitleBar(QWidget *panel)
{
    m_titleBar = new QGroupBox(panel);
    m_titleBar->setGeometry(-2, -2, 710, 51);
    m_titleBar->setStyleSheet(QStringLiteral("background-color: rgb(13,85, 104);"));

    m_closeButton = new QPushButton(m_titleBar);
    m_closeButton->setGeometry(650, 15, 20, 20);
    m_closeButton->setStyleSheet(QStringLiteral(
        "QPushButton{background-color:rgba(255, 255, 255,0);"
        "border-image:url(:/image/resource/dlgexit.png);border:none;}"));
    connect(m_closeButton, &QPushButton::clicked, this, &SettingsDlg::onXClicked);

    m_title = new QLabel(m_titleBar);
    m_title->setGeometry(40, 9, 450, 31);
    m_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    m_title->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    m_title->setText(m_printerName + QStringLiteral("打印详情"));
}

void SettingsDlg::setupDaySwitch()
{
    m_todayButton = new QPushButton(QStringLiteral("今天"), m_titleBar);
    m_todayButton->setObjectName(QStringLiteral("todayButton"));
    m_todayButton->setGeometry(506, 13, 56, 26);
    m_yesterdayButton = new QPushButton(QStringLiteral("昨天"), m_titleBar);
    m_yesterdayButton->setObjectName(QStringLiteral("yesterdayButton"));
    m_yesterdayButton->setGeometry(568, 13, 56, 26);

    auto *group = new QButtonGroup(this);
    group->setExclusive(true);
    for (QPushButton *button : { m_todayButton, m_yesterdayButton }) {
        button->setCheckable(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setStyleSheet(QLatin1String(kDaySwitchLook));
        group->addButton(button);
        connect(button, &QPushButton::clicked, this, &SettingsDlg::onDaySwitched);
    }
    m_todayButton->setChecked(true);
}

bool SettingsDlg::showsToday() const
{
    return !m_yesterdayButton->isChecked();
}

QDate SettingsDlg::shownDay() const
{
    // Read at every refresh: past midnight "today" is the new day, and "yesterday" moves with it.
    const QDate today = Clock::currentDate();
    return showsToday() ? today : today.addDays(-1);
}

void SettingsDlg::onDaySwitched()
{
    if (m_reader.day() == shownDay())
        return;
    on_Timeout();
}

void SettingsDlg::readNewHistory()
{
    m_reader.setDay(shownDay());
    bool startedOver = false;
    const QList<DetailRecord> records = m_reader.readAppended(&startedOver);
    if (startedOver) {
        // Another day, or a file that was replaced: what the table shows no longer stands.
        m_history.clear();
        m_historyShown = 0;
    }
    for (const DetailRecord &record : records)
        m_history.append(JobTableRow::finished(record));
}

void SettingsDlg::setOutbox(PrinterOutbox *outbox)
{
    m_outbox = outbox;
    // The jobs on their way are the ones the user opened the history to see: no second's wait.
    refreshRows();
}

void SettingsDlg::on_Timeout()
{
    readNewHistory();
    refreshRows();
}

void SettingsDlg::refreshRows()
{
    // Rows after the history, in the order they are shown: the jobs in the program's own hands
    // (taken from the spooler, not yet recorded), then the spooler's queue.
    QList<JobTableRow> tail;
    if (showsToday()) {
        tail = inFlightRows();
        tail += spoolerJobRows(tail);
    }
    markResendable();
    showRows(tail);
}

QList<JobTableRow> SettingsDlg::inFlightRows() const
{
    QList<JobTableRow> rows;
    if (m_outbox) {
        for (const JobInFlight &job : m_outbox->jobsInFlight())
            rows.append(JobTableRow::inFlight(job));
    }
    return rows;
}

void SettingsDlg::markResendable()
{
    const QList<OutboxJob> kept = m_outbox ? m_outbox->resendableJobs() : QList<OutboxJob>();
    const QList<int> changed = markResendableRows(m_history, kept, m_reader.day());
    for (int row : changed) {
        if (row < m_historyShown)
            writeAction(row, m_history.at(row));
    }
}

void SettingsDlg::onResendClicked(qint64 jobId)
{
    if (!m_outbox)
        return;
    if (m_outbox->resend(jobId) == 0)
        qWarning().noquote() << m_printerName << "job" << jobId << "could not be sent again";
    // Its row loses the action, and the new job shows among those on their way.
    refreshRows();
}

void SettingsDlg::showRows(const QList<JobTableRow> &tail)
{
    // The history rows already written stay as they are; new ones follow them, and the rows after
    // the history are written again each time, so the numbers stay consecutive.
    const int before = m_table->rowCount();
    const int total = m_history.size() + tail.size();
    m_table->setRowCount(total);
    for (int row = m_historyShown; row < m_history.size(); ++row)
        writeRow(row, m_history.at(row));
    m_historyShown = m_history.size();
    for (int k = 0; k < tail.size(); ++k)
        writeRow(m_history.size() + k, tail.at(k));
    if (total > before)
        m_table->scrollToBottom();
}

void SettingsDlg::writeRow(int row, const JobTableRow &values)
{
    // The one place a row reaches the table: an action of its own (a button for some kind of row)
    // would be set here too.
    setCell(row, NumberColumn, QString::number(row + 1));
    setCell(row, DocumentColumn, values.document);
    setCell(row, StatusColumn, values.status);
    setCell(row, SizeColumn, values.size, values.sizeToolTip);
    setCell(row, SubmittedColumn, values.submitted);
    setCell(row, HandledColumn, values.handled);
    writeAction(row, values);
}

void SettingsDlg::writeAction(int row, const JobTableRow &values)
{
    auto *button = qobject_cast<QPushButton *>(m_table->cellWidget(row, ActionColumn));
    if (values.resendJobId == 0) {
        if (button)
            m_table->removeCellWidget(row, ActionColumn);
        return;
    }
    if (button && button->property("jobId").toLongLong() == values.resendJobId)
        return;
    button = new QPushButton(QStringLiteral("重新打印"));
    button->setObjectName(QStringLiteral("resendButton"));
    button->setProperty("jobId", values.resendJobId);
    button->setStyleSheet(QLatin1String(kResendLook));
    button->setCursor(Qt::PointingHandCursor);
    const qint64 jobId = values.resendJobId;
    connect(button, &QPushButton::clicked, this, [this, button, jobId] {
        // One click sends it once: the button goes with the refresh that follows.
        button->setEnabled(false);
        onResendClicked(jobId);
    });
    m_table->setCellWidget(row, ActionColumn, button);
}

void SettingsDlg::setCell(int row, int column, const QString &text, const QString &toolTip)
{
    // Cells are kept and changed rather than replaced: the queued rows are written every second,
    // and a new item under the mouse would lose its tooltip.
    QTableWidgetItem *item = m_table->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        m_table->setItem(row, column, item);
    }
    if (item->text() != text)
        item->setText(text);
    if (item->toolTip() != toolTip)
        item->setToolTip(toolTip);
}

QList<JobTableRow> SettingsDlg::spoolerJobRows(const QList<JobTableRow> &inFlight) const
{
    QList<JobTableRow> rows;
    for (const SpoolerJob &job : queuedJobs(m_printerName).value_or(QList<SpoolerJob>())) {
        JobTableRow row = JobTableRow::queued(job);
        // The job the spooler is sending is the one the program is receiving: one row for it.
        const bool taken = job.printing && std::any_of(inFlight.cbegin(), inFlight.cend(), [&row](const JobTableRow &own) {
            return own.document == row.document && own.submitted == row.submitted;
        });
        if (!taken)
            rows.append(row);
    }
    return rows;
}

QString SettingsDlg::cellToolTip(const QTableWidgetItem *item) const
{
    if (!item->toolTip().isEmpty())
        return item->toolTip();
    const QVariant fontRole = item->data(Qt::FontRole);
    const QFont font = fontRole.isValid() ? fontRole.value<QFont>() : QFont();
    const int textWidth = QFontMetrics(font).horizontalAdvance(item->text());
    return textWidth > m_table->columnWidth(item->column()) ? item->text() : QString();
}

void SettingsDlg::showCellToolTip(const QTableWidgetItem *item, const QPoint &globalPos)
{
    const QString tip = item ? cellToolTip(item) : QString();
    if (tip.isEmpty()) {
        QToolTip::hideText();
        return;
    }
    // Tied to the cell's rectangle: the tip stays while the mouse is on the cell (showing the same
    // tip again there changes nothing) and goes when it leaves.
    QToolTip::showText(globalPos, tip, m_table->viewport(), m_table->visualItemRect(item));
}

void SettingsDlg::slotItemEnter(QTableWidgetItem *item)
{
    // A cell without a tip hides the one shown; a cell with one takes it over.
    showCellToolTip(item, QCursor::pos() + QPoint(20, 0));
}

bool SettingsDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_table->viewport() && event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        showCellToolTip(m_table->itemAt(help->pos()), help->globalPos() + QPoint(20, 0));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsDlg::onXClicked()
{
    m_timer->stop();
    close();
}
