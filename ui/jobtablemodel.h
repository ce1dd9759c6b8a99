#ifndef JOBTABLEMODEL_H
#define JOBTABLEMODEL_H

#include "jobtablerow.h"

#include <QAbstractTableModel>
#include <QDate>
#include <QList>

struct OutboxJob;

// The rows of the job history table: the day's finished jobs, oldest first, then the rows after
// them (jobs on their way, the spooler's queue). A long day holds thousands of finished rows, so
// they are only ever appended, and the rows after them change in place: a refresh touches what
// changed and nothing else.
class JobTableModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    enum Column {
        NumberColumn,
        DocumentColumn,
        StatusColumn,
        SizeColumn,
        SubmittedColumn,
        HandledColumn,
        ActionColumn,
        ColumnCount
    };
    enum Role {
        // On the action column: the id a kept failure can be sent again under, 0 for none.
        ResendJobIdRole = Qt::UserRole,
    };

    explicit JobTableModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    int historyCount() const { return m_history.size(); }
    // Any row, finished or after them; `row` must be one of the model's rows.
    const JobTableRow &jobRow(int row) const;

    // Finished jobs recorded since the last ones, shown after them and before the rows that follow.
    void appendHistory(const QList<JobTableRow> &rows);
    // Another day or a replaced file: the finished rows shown no longer stand.
    void clearHistory();
    // The rows after the history as they are now: rows that stayed keep their place, and only those
    // that differ are told as changed.
    void setTail(const QList<JobTableRow> &tail);
    // Marks the finished rows that record a failure the outbox keeps; the rows whose mark changed.
    QList<int> markResendable(const QList<OutboxJob> &kept, const QDate &day);

private:
    QList<JobTableRow> m_history;
    // The finished rows that can record a kept failure, ascending: the only ones a mark looks at.
    QList<int> m_failedRows;
    QList<JobTableRow> m_tail;
};

#endif // JOBTABLEMODEL_H
