#include "settingsdlg.h"

#include "detailfile.h"
#include "detailrecordparser.h"
#include "spoolerjobs.h"

#include <QCursor>
#include <QFontMetrics>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

namespace {

const char kTableLook[] =
    "QTableWidget::item:hover{background-color:rgba(92,188,227,200)}"
    "QTableWidget::item:selected{background-color:rgba(92,188,227,200)}"
    "QHeaderView::section,QTableCornerButton:section{                 padding:3px; margin:0px; "
    "color:#DCDCDC;  border:1px solid #242424;         border-left-width:0px; border-right-width:1px; "
    "border-top-width:0px; border-bottom-width:1px;     "
    "background:qlineargradient(spread:pad,x1:0,y1:0,x2:0,y2:1,stop:0 #ff64ff,stop:1 #5252ff); }"
    "QTableWidget{background-color:white;border:1px solid #666666;}";

} // namespace

SettingsDlg::SettingsDlg(const QString &printerName, const QString &cloudSn, QWidget *parent)
    : QDialog(parent)
    , m_printerName(printerName)
    , m_cloudSn(cloudSn)
{
    m_lastFileSize = detailFileSize(m_cloudSn);
    const QString text = m_lastFileSize != 0 ? readDetailRecords(m_cloudSn) : QString();

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

    if (!text.isEmpty()) {
        const QList<QStringList> records = parseDetailRecords(text);
        for (int i = 0; i < records.size(); ++i) {
            m_table->insertRow(i);
            fillHistoryRow(i, records.at(i));
            m_table->scrollToBottom();
        }
        m_historyRows = records.size();
    }
    m_totalRows = m_historyRows;

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

    QFont font(QStringLiteral("song"));
    font.setPixelSize(14);
    m_table->setFont(font);
    m_table->setColumnCount(6);
    m_table->setHorizontalHeaderLabels({QStringLiteral("序号"), QStringLiteral("文档名称"),
                                        QStringLiteral("任务状态"), QStringLiteral("数据大小"),
                                        QStringLiteral("提交时间"), QStringLiteral("处理时间")});
    m_table->horizontalHeader()->setVisible(true);
    m_table->verticalHeader()->setVisible(false);
    m_table->horizontalHeader()->setDefaultSectionSize(100);
    m_table->verticalHeader()->setDefaultSectionSize(30);
    const int widths[] = {50, 120, 160, 80};
    for (int column = 0; column < 4; ++column)
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
    m_title->setGeometry(40, 9, 551, 31);
    m_title->setStyleSheet(QStringLiteral("color: rgb(255, 255, 255);"));
    m_title->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    m_title->setText(m_printerName + QStringLiteral("打印详情"));
}

void SettingsDlg::setCell(int row, int column, const QString &text)
{
    m_table->setItem(row, column, new QTableWidgetItem(text));
}

void SettingsDlg::fillHistoryRow(int row, const QStringList &fields)
{
    // Fields: document; submitted; result; size; processed. Missing ones show empty.
    const auto field = [&fields](int number) { return fields.value(number - 1); };
    setCell(row, 0, QString::number(row + 1));
    setCell(row, 1, field(1));
    setCell(row, 2, field(3));
    setCell(row, 3, field(4));
    setCell(row, 4, field(2));
    setCell(row, 5, field(5));
}

void SettingsDlg::fillQueuedRow(int row, const QStringList &job)
{
    // A queued job: document; status; "----"; submitted; "--:--:--".
    setCell(row, 0, QString::number(row + 1));
    setCell(row, 1, job.value(0));
    setCell(row, 2, job.value(1));
    setCell(row, 3, job.value(2));
    setCell(row, 4, job.value(3));
    setCell(row, 5, job.value(4));
}

void SettingsDlg::on_Timeout()
{
    const qint64 size = detailFileSize(m_cloudSn);
    if (size > m_lastFileSize) {
        const QList<QStringList> records = parseDetailRecords(readDetailRecords(m_cloudSn));
        for (int i = m_historyRows; i < records.size(); ++i) {
            m_table->insertRow(m_historyRows);
            fillHistoryRow(m_historyRows, records.at(i));
            m_table->scrollToBottom();
            ++m_historyRows;
        }
        m_lastFileSize = size;
    }

    const QList<QStringList> jobs = spoolerJobRows();
    m_totalRows = m_historyRows + jobs.size();
    while (m_table->rowCount() > m_totalRows)
        m_table->removeRow(m_table->rowCount() - 1);
    while (m_table->rowCount() < m_totalRows)
        m_table->insertRow(m_table->rowCount());
    for (int k = 0; k < jobs.size(); ++k) {
        fillQueuedRow(m_historyRows + k, jobs.at(k));
        m_table->scrollToBottom();
    }
}

QList<QStringList> SettingsDlg::spoolerJobRows() const
{
    QList<QStringList> rows;
    for (const SpoolerJob &job : queuedJobs(m_printerName).value_or(QList<SpoolerJob>())) {
        rows.append({job.document,
                     job.printing ? QStringLiteral("正在处理") : QStringLiteral("打印排队中"),
                     QStringLiteral("----"), chinaTimeOfDay(job.submitted), QStringLiteral("--:--:--")});
    }
    return rows;
}

void SettingsDlg::slotItemEnter(QTableWidgetItem *item)
{
    if (QToolTip::isVisible())
        QToolTip::hideText();
    if (!item)
        return;
    const QVariant fontRole = item->data(Qt::FontRole);
    const QFont font = fontRole.isValid() ? fontRole.value<QFont>() : QFont();
    const int textWidth = QFontMetrics(font).horizontalAdvance(item->text());
    if (textWidth > m_table->columnWidth(item->column()))
        QToolTip::showText(QCursor::pos() + QPoint(20, 0), item->text());
}

void SettingsDlg::onXClicked()
{
    m_timer->stop();
    close();
}
