#include "jobtablemodel.h"

#include "keptjobmatch.h"
#include "outboxjournal.h"

JobTableModel::JobTableModel(QObject *parent)
    : QAbstractTableModel(parent)
{
}

int JobTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_history.size() + m_tail.size();
}

int JobTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

const JobTableRow &JobTableModel::jobRow(int row) const
{
    return row < m_history.size() ? m_history.at(row) : m_tail.at(row - m_history.size());
}

QVariant JobTableModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const JobTableRow &values = jobRow(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NumberColumn:
            // Numbered by place, so the numbers stay consecutive whatever joins or leaves.
            return QString::number(index.row() + 1);
        case DocumentColumn:
            return values.document;
        case StatusColumn:
            return values.status;
        case SizeColumn:
            return values.size;
        case SubmittedColumn:
            return values.submitted;
        case HandledColumn:
            return values.handled;
        default:
            return QVariant();
        }
    case Qt::ToolTipRole:
        // The short size hides the exact bytes.
        if (index.column() == SizeColumn && !values.sizeToolTip.isEmpty())
            return values.sizeToolTip;
        return QVariant();
    case ResendJobIdRole:
        if (index.column() == ActionColumn)
            return values.resendJobId;
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant JobTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case NumberColumn:
        return QStringLiteral("序号");
    case DocumentColumn:
        return QStringLiteral("文档名称");
    case StatusColumn:
        return QStringLiteral("任务状态");
    case SizeColumn:
        return QStringLiteral("数据大小");
    case SubmittedColumn:
        return QStringLiteral("提交时间");
    case HandledColumn:
        return QStringLiteral("处理时间");
    case ActionColumn:
        return QStringLiteral("操作");
    default:
        return QVariant();
    }
}

Qt::ItemFlags JobTableModel::flags(const QModelIndex &index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void JobTableModel::appendHistory(const QList<JobTableRow> &rows)
{
    if (rows.isEmpty())
        return;
    const int first = m_history.size();
    beginInsertRows(QModelIndex(), first, first + rows.size() - 1);
    m_history.reserve(first + rows.size());
    for (const JobTableRow &row : rows) {
        if (mayRecordKeptJob(row))
            m_failedRows.append(m_history.size());
        m_history.append(row);
    }
    endInsertRows();
}

void JobTableModel::clearHistory()
{
    if (m_history.isEmpty())
        return;
    beginRemoveRows(QModelIndex(), 0, m_history.size() - 1);
    m_history.clear();
    m_failedRows.clear();
    endRemoveRows();
}

void JobTableModel::setTail(const QList<JobTableRow> &tail)
{
    const int base = m_history.size();
    const int kept = qMin(m_tail.size(), tail.size());
    int firstChanged = -1;
    int lastChanged = -1;
    for (int k = 0; k < kept; ++k) {
        if (m_tail.at(k) == tail.at(k))
            continue;
        m_tail[k] = tail.at(k);
        if (firstChanged < 0)
            firstChanged = k;
        lastChanged = k;
    }
    if (firstChanged >= 0)
        emit dataChanged(index(base + firstChanged, 0), index(base + lastChanged, ColumnCount - 1));

    if (tail.size() < m_tail.size()) {
        beginRemoveRows(QModelIndex(), base + kept, base + m_tail.size() - 1);
        m_tail.erase(m_tail.begin() + kept, m_tail.end());
        endRemoveRows();
    } else if (tail.size() > m_tail.size()) {
        beginInsertRows(QModelIndex(), base + kept, base + tail.size() - 1);
        for (int k = kept; k < tail.size(); ++k)
            m_tail.append(tail.at(k));
        endInsertRows();
    }
}

QList<int> JobTableModel::markResendable(const QList<OutboxJob> &kept, const QDate &day)
{
    const QList<int> changed = markResendableRows(m_history, m_failedRows, kept, day);
    for (int row : changed) {
        const QModelIndex action = index(row, ActionColumn);
        emit dataChanged(action, action, { ResendJobIdRole });
    }
    return changed;
}
