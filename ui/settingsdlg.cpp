#include "settingsdlg.h"

#include "clock.h"
#include "jobtablemodel.h"
#include "printeroutbox.h"
#include "spoolerjobs.h"

#include <QButtonGroup>
#include <QCursor>
#include <QDebug>
#include <QEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const char kTableLook[]
    = "QTableView::item:hover{background-color:rgba(92,188,227,200)}"
      "QTableView::item:selected{background-color:rgba(92,188,227,200)}"
      "QHeaderView::section,QTableCornerButton:section{                 padding:3px; margin:0px; "
      "color:#DCDCDC;  border:1px solid #242424;         border-left-width:0px; border-right-width:1px; "
      "border-top-width:0px; border-bottom-width:1px;     "
      "background:qlineargradient(spread:pad,x1:0,y1:0,x2:0,y2:1,stop:0 #ff64ff,stop:1 #5252ff); }"
      "QTableView{background-color:white;border:1px solid #666666;}";

const char kDaySwitchLook[]
    = "QPushButton{color:white;background-color:rgba(255,255,255,0);border:1px solid rgba(255,255,255,120);"
      "border-radius:4px;}"
      "QPushButton:checked{background-color:rgba(92,188,227,200);border-color:rgba(92,188,227,255);}";

const char kResendLook[]
    = "QPushButton{color:white;background-color:#0A1728;border:none;border-radius:4px;font-size:12px;}"
      "QPushButton:disabled{background-color:#9a9a9a;}";

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
    panel->setStyleSheet(
        QStringLiteral(".QWidget{background-color: rgba(230, 230, 230,255);border:none;border-radius:7px;}"));
    layout->addWidget(panel);
    setupTable(panel);
    setupTitleBar(panel);
    setupDaySwitch();

    // The spooler's queue joins at the first refresh, a second from now.
    readNewHistory();
    m_table->scrollToBottom();

    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &SettingsDlg::on_Timeout);
    m_timer->start();
}

void SettingsDlg::setupTable(QWidget *panel)
{
    m_table = new QTableView(panel);
    m_table->setGeometry(20, 60, 650, 400);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::ContiguousSelection);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->horizontalHeader()->setHighlightSections(false);
    m_table->setMouseTracking(true);
    m_table->setStyleSheet(QLatin1String(kTableLook));
    connect(m_table, &QTableView::entered, this, &SettingsDlg::slotItemEnter);
    // The view's own tooltip handling would hide ours a moment after it shows: the cut-off text is
    // measured when the mouse comes, and the size's exact bytes are shown the same way.
    m_table->viewport()->installEventFilter(this);

    QFont font(QStringLiteral("song"));
    font.setPixelSize(14);
    m_table->setFont(font);
    // The model comes after the look: a header given its sections first keeps the parent's plain look.
    m_model = new JobTableModel(this);
    m_table->setModel(m_model);
    m_table->horizontalHeader()->setVisible(true);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setDefaultSectionSize(100);
    m_table->verticalHeader()->setDefaultSectionSize(30);
    // The action column, last, takes what the others leave; the columns fit the table's width, and a
    // text too long for its cell shows whole in its tooltip.
    const int widths[] = { 50, 120, 130, 80, 90, 80 };
    for (int column = 0; column < 6; ++column)
        m_table->setColumnWidth(column, widths[column]);
    m_table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // One line a row: a name broken at its hyphens would show only its first piece.
    m_table->setWordWrap(false);

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
    m_closeButton->setStyleSheet(
        QStringLiteral("QPushButton{background-color:rgba(255, 255, 255,0);"
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
    // Another day, or a file that was replaced: what the table shows no longer stands.
    if (startedOver)
        m_model->clearHistory();
    QList<JobTableRow> rows;
    rows.reserve(records.size());
    for (const DetailRecord &record : records)
        rows.append(JobTableRow::finished(record));
    m_model->appendHistory(rows);
}

void SettingsDlg::setOutbox(PrinterOutbox *outbox)
{
    m_outbox = outbox;
    // The jobs on their way are the ones the user opened the history to see: no second's wait.
    refreshRows(m_model->rowCount());
}

void SettingsDlg::on_Timeout()
{
    const int before = m_model->rowCount();
    readNewHistory();
    refreshRows(before);
}

void SettingsDlg::refreshRows(int rowsBefore)
{
    // Rows after the history, in the order they are shown: the jobs in the program's own hands
    // (taken from the spooler, not yet recorded), then the spooler's queue.
    QList<JobTableRow> tail;
    if (showsToday()) {
        tail = inFlightRows();
        tail += spoolerJobRows(tail);
    }
    markResendable();
    m_model->setTail(tail);
    // Only when the table grew: a user reading further up is left there while jobs move on.
    if (m_model->rowCount() > rowsBefore)
        m_table->scrollToBottom();
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
    for (int row : m_model->markResendable(kept, m_reader.day()))
        writeAction(row);
}

void SettingsDlg::onResendClicked(qint64 jobId)
{
    if (!m_outbox)
        return;
    if (m_outbox->resend(jobId) == 0)
        qWarning().noquote() << m_printerName << "job" << jobId << "could not be sent again";
    // Its row loses the action, and the new job shows among those on their way.
    refreshRows(m_model->rowCount());
}

void SettingsDlg::writeAction(int row)
{
    // A button only on the rows that have the action: a day of printed jobs makes no widgets.
    const QModelIndex index = m_model->index(row, JobTableModel::ActionColumn);
    const qint64 jobId = m_model->jobRow(row).resendJobId;
    auto *button = qobject_cast<QPushButton *>(m_table->indexWidget(index));
    if (jobId == 0) {
        if (button)
            m_table->setIndexWidget(index, nullptr);
        return;
    }
    if (button && button->property("jobId").toLongLong() == jobId)
        return;
    button = new QPushButton(QStringLiteral("重新打印"));
    button->setObjectName(QStringLiteral("resendButton"));
    button->setProperty("jobId", jobId);
    button->setStyleSheet(QLatin1String(kResendLook));
    button->setCursor(Qt::PointingHandCursor);
    connect(button, &QPushButton::clicked, this, [this, button, jobId] {
        // One click sends it once: the button goes with the refresh that follows.
        button->setEnabled(false);
        onResendClicked(jobId);
    });
    m_table->setIndexWidget(index, button);
}

QList<JobTableRow> SettingsDlg::spoolerJobRows(const QList<JobTableRow> &inFlight) const
{
    QList<JobTableRow> rows;
    for (const SpoolerJob &job : queuedJobs(m_printerName).value_or(QList<SpoolerJob>())) {
        JobTableRow row = JobTableRow::queued(job);
        // The job the spooler is sending is the one the program is receiving: one row for it.
        const bool taken
            = job.printing && std::any_of(inFlight.cbegin(), inFlight.cend(), [&row](const JobTableRow &own) {
                  return own.document == row.document && own.submitted == row.submitted;
              });
        if (!taken)
            rows.append(row);
    }
    return rows;
}

QString SettingsDlg::cellToolTip(const QModelIndex &index) const
{
    const QString own = index.data(Qt::ToolTipRole).toString();
    if (!own.isEmpty())
        return own;
    const QString text = index.data(Qt::DisplayRole).toString();
    const int textWidth = QFontMetrics(m_table->font()).horizontalAdvance(text);
    return textWidth > m_table->columnWidth(index.column()) ? text : QString();
}

void SettingsDlg::showCellToolTip(const QModelIndex &index, const QPoint &globalPos)
{
    const QString tip = index.isValid() ? cellToolTip(index) : QString();
    if (tip.isEmpty()) {
        QToolTip::hideText();
        return;
    }
    // Tied to the cell's rectangle: the tip stays while the mouse is on the cell (showing the same
    // tip again there changes nothing) and goes when it leaves.
    QToolTip::showText(globalPos, tip, m_table->viewport(), m_table->visualRect(index));
}

void SettingsDlg::slotItemEnter(const QModelIndex &index)
{
    // A cell without a tip hides the one shown; a cell with one takes it over.
    showCellToolTip(index, QCursor::pos() + QPoint(20, 0));
}

bool SettingsDlg::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_table->viewport() && event->type() == QEvent::ToolTip) {
        const auto *help = static_cast<QHelpEvent *>(event);
        showCellToolTip(m_table->indexAt(help->pos()), help->globalPos() + QPoint(20, 0));
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void SettingsDlg::onXClicked()
{
    m_timer->stop();
    close();
}
