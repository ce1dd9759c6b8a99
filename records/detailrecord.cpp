#include "detailrecord.h"

#include <QRegularExpression>
#include <QStringList>
#include <QTextCodec>

namespace {

const char kSeparator[] = "!+!";
const char kBrokenSeparator[] = "!+ !";

bool isTimeOfDay(const QString &field)
{
    static const QRegularExpression time(QStringLiteral("^[0-9]{2}:[0-9]{2}:[0-9]{2}$"));
    return time.match(field).hasMatch();
}

bool isDecimal(const QString &field)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]+$"));
    return digits.match(field).hasMatch();
}

QString breakSeparators(const QString &text)
{
    QString broken = text;
    // One pass is not enough: "!+!+!" leaves a separator behind after its first replacement.
    while (broken.contains(QLatin1String(kSeparator)))
        broken.replace(QLatin1String(kSeparator), QLatin1String(kBrokenSeparator));
    return broken;
}

// Files written before took the fields in order and left the missing ones empty.
DetailRecord fromTheLeft(const QStringList &fields)
{
    DetailRecord record;
    record.document = fields.value(0);
    record.submitted = fields.value(1);
    record.result = fields.value(2);
    record.size = fields.value(3);
    record.handled = fields.value(4);
    return record;
}

QString decodeRecordBytes(const QByteArray &bytes)
{
    QTextCodec *utf8 = QTextCodec::codecForName("UTF-8");
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    const QString text = utf8->toUnicode(bytes.constData(), bytes.size(), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return text;
    return QTextCodec::codecForLocale()->toUnicode(bytes);
}

} // namespace

qint64 DetailRecord::sizeInBytes() const
{
    if (!isDecimal(size))
        return -1;
    bool ok = false;
    const qint64 bytes = size.toLongLong(&ok);
    return ok ? bytes : -1;
}

DetailRecord DetailRecord::fromText(const QString &text)
{
    const QStringList fields = text.split(QLatin1Char(';'));
    const int count = fields.size();
    if (count < 4 || !isTimeOfDay(fields.at(count - 1)) || !isDecimal(fields.at(count - 2)))
        return fromTheLeft(fields);

    DetailRecord record;
    record.handled = fields.at(count - 1);
    record.size = fields.at(count - 2);
    record.result = fields.at(count - 3);
    // What is left is the job description.
    splitJobDescription(fields.mid(0, count - 3).join(QLatin1Char(';')), &record.document, &record.submitted);
    return record;
}

void splitJobDescription(const QString &jobneed, QString *document, QString *submitted)
{
    // A document alone when the spooler showed no time (an empty description is an empty document).
    const int last = jobneed.lastIndexOf(QLatin1Char(';'));
    if (last >= 0 && isTimeOfDay(jobneed.mid(last + 1))) {
        *document = jobneed.left(last);
        *submitted = jobneed.mid(last + 1);
    } else {
        *document = jobneed;
        submitted->clear();
    }
}

bool DetailRecord::operator==(const DetailRecord &other) const
{
    return document == other.document && submitted == other.submitted && result == other.result
        && size == other.size && handled == other.handled;
}

QString detailRecordSeparator()
{
    return QLatin1String(kSeparator);
}

QString escapeDetailRecord(const QString &record)
{
    QString escaped = breakSeparators(record);
    // "…!+" followed by the closing "!+!" would read as a separator one character early.
    if (escaped.endsWith(QLatin1String("!+")))
        escaped.append(QLatin1Char(' '));
    return escaped;
}

QString jobDetailRecord(
    const QString &jobneed, const QString &result, qint64 jobSize, const QString &handledAt)
{
    // One pass over the pattern: a document named "%2" stays "%2".
    return QStringLiteral("%1;%2;%3;%4")
        .arg(breakSeparators(jobneed), breakSeparators(result), QString::number(jobSize), handledAt);
}

QByteArray encodeDetailRecord(const QString &record)
{
    return record.toUtf8();
}

QString decodeDetailText(const QByteArray &bytes)
{
    // The separator is plain ASCII, which no multi-byte character of UTF-8 or of the East Asian
    // code pages contains, so the bytes can be cut at it before they are decoded.
    QString text;
    int from = 0;
    while (from < bytes.size()) {
        const int at = bytes.indexOf(kSeparator, from);
        const int end = at < 0 ? bytes.size() : at + int(sizeof(kSeparator)) - 1;
        text += decodeRecordBytes(bytes.mid(from, end - from));
        from = end;
    }
    return text;
}

QList<DetailRecord> parseDetailRecords(const QString &text)
{
    QList<DetailRecord> records;
    const QStringList pieces = text.split(QLatin1String(kSeparator));
    for (int i = 0; i + 1 < pieces.size(); ++i)
        records.append(DetailRecord::fromText(pieces.at(i)));
    return records;
}

QList<DetailRecord> parseDetailBytes(const QByteArray &bytes)
{
    return parseDetailRecords(decodeDetailText(bytes));
}
