#include "figures.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

bool Figures::write(const QString &suite, const QString &title) const
{
    const QDir folder(QStringLiteral(RELIABILITY_FIGURES_DIR));
    if (!folder.mkpath(QStringLiteral(".")))
        return false;
    QFile file(folder.filePath(suite + QStringLiteral(".md")));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out.setCodec("UTF-8");
    out << "### " << title << "\n\n";
    out << "| What was tried | Outcome | Sent | At the service | Recorded | Duplicated | Lost | Unrecorded "
           "| Leaked handles | Busy after outcome (ms) |\n";
    out << "|---|---|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    Row total;
    for (const Row &row : m_rows) {
        QString outcome = row.outcome;
        outcome.replace(QLatin1Char('|'), QStringLiteral("\\|"));
        out << "| " << row.tried << " | " << outcome << " | " << row.sent << " | " << row.delivered << " | "
            << row.recorded << " | " << row.duplicated << " | " << row.lost << " | " << row.unrecorded
            << " | " << row.leakedHandles << " | " << row.busyAfterOutcomeMs << " |\n";
        total.sent += row.sent;
        total.delivered += row.delivered;
        total.recorded += row.recorded;
        total.duplicated += row.duplicated;
        total.lost += row.lost;
        total.unrecorded += row.unrecorded;
        total.leakedHandles += row.leakedHandles;
        total.busyAfterOutcomeMs = qMax(total.busyAfterOutcomeMs, row.busyAfterOutcomeMs);
    }
    out << "\n";
    for (const QString &note : m_notes)
        out << "- " << note << "\n";
    if (!m_notes.isEmpty())
        out << "\n";
    // One line the report test adds up across the suites.
    out << "<!-- totals cases=" << m_rows.size() << " sent=" << total.sent << " delivered=" << total.delivered
        << " recorded=" << total.recorded << " duplicated=" << total.duplicated << " lost=" << total.lost
        << " unrecorded=" << total.unrecorded << " leaks=" << total.leakedHandles
        << " busy=" << total.busyAfterOutcomeMs << " -->\n";
    return out.status() == QTextStream::Ok;
}
