#ifndef FIGURES_H
#define FIGURES_H

#include <QList>
#include <QString>

// What a suite tried and measured, kept as one section of the reliability report: a table row per
// case and the totals. The report test gathers the sections of every suite.
class Figures
{
public:
    struct Row
    {
        QString tried;
        QString outcome;
        int sent = 0; // jobs the spooler side sent
        int delivered = 0; // distinct jobs that reached the service
        int recorded = 0; // jobs with exactly one record
        int duplicated = 0; // jobs that reached the service or the records more than once
        int lost = 0; // jobs neither recorded nor at the service, or recorded as printed but never sent
        int unrecorded = 0; // jobs without a record
        int leakedHandles = 0;
        qint64 busyAfterOutcomeMs = 0;
    };

    void add(const Row &row) { m_rows.append(row); }
    // A figure of the section that is not per case, such as the load's throughput.
    void note(const QString &text) { m_notes.append(text); }

    // Writes the section as <suite>.md into the folder the report test reads.
    bool write(const QString &suite, const QString &title) const;

private:
    QList<Row> m_rows;
    QStringList m_notes;
};

#endif // FIGURES_H
