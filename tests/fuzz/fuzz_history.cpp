// The job history dialog reading a printer's detail file, fed records and files of any content:
// document names and result texts come from applications and from the cloud service, and a file
// may have been damaged outside the program.
//
// Input: one mode byte, then the content. Mode bit 0 clear: the content is a list of record texts
// separated by NUL bytes, appended through the program's own writer, the first half before the
// dialog opens and the rest while it is open (seen by its refresh). Bit 0 set: the content is the
// file's raw bytes. Besides the sanitizers' checks, the table must show exactly the records the
// file holds, in order, each field in its column, numbered from 1.
#include "clock.h"
#include "detailfile.h"
#include "jobsizetext.h"
#include "jobtablemodel.h"
#include "settingsdlg.h"
#include "winsim/winsimcontrol.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const char kSerial[] = "FEDCBA9876543210";

void quiet(QtMsgType, const QMessageLogContext &, const QString &)
{
}

void check(bool holds, const char *what)
{
    if (!holds) {
        std::fprintf(stderr, "history dialog broke its promise: %s\n", what);
        std::abort();
    }
}

QString cell(JobTableModel *table, int row, int column, int role = Qt::DisplayRole)
{
    return table->index(row, column).data(role).toString();
}

// Rows 0 to n-1 are the file's records, in order, each field in its column; a size that is a number
// reads short, with the exact bytes in its tooltip.
void checkTable(SettingsDlg &dialog)
{
    const QList<DetailRecord> records = parseDetailRecords(readDetailRecords(QLatin1String(kSerial)));
    JobTableModel *table = dialog.model();
    check(
        table->rowCount() == records.size(), "one row per record, and no queued rows for a missing printer");
    for (int row = 0; row < records.size(); ++row) {
        const DetailRecord &record = records.at(row);
        check(cell(table, row, 0) == QString::number(row + 1), "rows are numbered from 1");
        check(cell(table, row, 1) == record.document, "the document stands in its column");
        check(cell(table, row, 2) == record.result, "the result stands in its column");
        check(cell(table, row, 4) == record.submitted, "the submission time stands in its column");
        check(cell(table, row, 5) == record.handled, "the handling time stands in its column");
        const qint64 bytes = record.sizeInBytes();
        if (bytes >= 0) {
            check(cell(table, row, 3) == jobSizeText(bytes), "the size reads short");
            check(
                cell(table, row, 3, Qt::ToolTipRole) == jobSizeBytesText(bytes), "the exact size is at hand");
        } else {
            check(cell(table, row, 3) == record.size, "a size that is no number shows as it is");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    Q_UNUSED(argc)
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // An empty spooler of its own: the dialog's printer does not exist, so it shows no queued jobs.
    static QTemporaryDir winsimRoot;
    qputenv("WINSIM_ROOT", winsimRoot.path().toUtf8());
    static int qtArgc = 1;
    static char *qtArgv[] = { (*argv)[0], nullptr };
    auto *app = new QApplication(qtArgc, qtArgv);
    qInstallMessageHandler(quiet);
    winsim::reset();
    QDir(app->applicationDirPath()).mkpath(QStringLiteral("details"));
    Clock::setFixedForTesting(QDateTime(QDate(2026, 12, 7), QTime(10, 0, 1)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const QString path = detailFilePath(QLatin1String(kSerial));
    QFile::remove(path);
    const QByteArray content(reinterpret_cast<const char *>(data + 1), int(size - 1));

    if (data[0] & 1) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            return 0;
        file.write(content);
        file.close();
        SettingsDlg dialog(QStringLiteral("Fuzz"), QLatin1String(kSerial));
        checkTable(dialog);
        return 0;
    }

    const QList<QByteArray> texts = content.split('\0');
    const int before = texts.size() / 2;
    for (int i = 0; i < before; ++i)
        appendDetailRecord(QLatin1String(kSerial), QString::fromUtf8(texts.at(i)));
    SettingsDlg dialog(QStringLiteral("Fuzz"), QLatin1String(kSerial));
    checkTable(dialog);
    for (int i = before; i < texts.size(); ++i)
        appendDetailRecord(QLatin1String(kSerial), QString::fromUtf8(texts.at(i)));
    QMetaObject::invokeMethod(&dialog, "on_Timeout", Qt::DirectConnection);
    checkTable(dialog);
    return 0;
}
