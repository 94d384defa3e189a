#include "run/HistoryFormat.h"

#include "report/Quoting.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

QString csvField(const QString &text)
{
    if (!text.contains(u',') && !text.contains(u'"') && !text.contains(u'\n')
        && !text.contains(u'\r'))
        return text;
    QString quoted = text;
    quoted.replace(u'"', u"\"\""_s);
    return u'"' + quoted + u'"';
}

QString jsonString(const QString &text)
{
    QString json(u'"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"':
            json += u"\\\"";
            break;
        case '\\':
            json += u"\\\\";
            break;
        case '\n':
            json += u"\\n";
            break;
        case '\r':
            json += u"\\r";
            break;
        case '\t':
            json += u"\\t";
            break;
        default:
            // Line and paragraph separators too, so that a record stays one line to every reader.
            if (c.unicode() < 0x20 || c.unicode() == 0x2028 || c.unicode() == 0x2029)
                json += u"\\u" + QString::number(c.unicode(), 16).rightJustified(4, u'0');
            else
                json += c;
        }
    }
    return json + u'"';
}

// The entry's key as a number when it is one, else as a text, or null. Readers such as jq hold
// every number as a double, which is exact for whole numbers only up to 2^53: a key beyond that
// is written as a text, so that it reads back as it is.
QString jsonEntry(const QString &entry)
{
    constexpr qint64 exactInDouble = qint64(1) << 53;
    bool isNumber = false;
    const qint64 key = entry.toLongLong(&isNumber);
    if (isNumber && QString::number(key) == entry && key >= -exactInDouble && key <= exactInDouble)
        return entry;
    return entry.isEmpty() ? u"null"_s : jsonString(entry);
}

// The fields of a record in their order, as texts; a null field as std::nullopt.
struct Fields
{
    QString entry;
    QString program;
    QString parameters;
    QString started;
    QString seconds;
    QString ended;
    std::optional<int> status;
    QString detail;
};

Fields fieldsOf(const RunRecord &record)
{
    return {record.entry,
            HistoryFormat::bytesAsText(record.program),
            HistoryFormat::bytesAsText(record.parameters),
            HistoryFormat::startedUtc(record.startedMs),
            record.hasLifetime() ? HistoryFormat::seconds(record.lifetimeMs) : QString(),
            RunEndings::name(record.ending),
            record.status,
            HistoryFormat::detail(record)};
}

// The detail on one line of a terminal: its lines one after another, and a line with characters
// that would act on the terminal (what a program wrote to its standard error may have any) quoted
// and escaped.
QString detailOnOneLine(const RunRecord &record)
{
    QStringList lines = HistoryFormat::detail(record).split(u'\n', Qt::SkipEmptyParts);
    for (QString &line : lines) {
        const bool acts = std::any_of(line.cbegin(), line.cend(), [](QChar character) {
            const QChar::Category category = character.category();
            return category == QChar::Other_Control || category == QChar::Other_Format
                || category == QChar::Separator_Line || category == QChar::Separator_Paragraph;
        });
        if (acts)
            line = quotedBytes(line.toUtf8());
    }
    return lines.join(u" / "_s);
}

} // namespace

namespace HistoryFormat {

QString bytesAsText(QByteArrayView bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (qsizetype i = 0; i < bytes.size();) {
        const auto byte = uchar(bytes.at(i));
        // A zero byte ends the text for many a reader of CSV, so it is written as the others are.
        if (byte < 0x80 && byte != 0) {
            text += QLatin1Char(char(byte));
            ++i;
            continue;
        }
        if (const qsizetype length = utf8SequenceLength(bytes.sliced(i)); length > 0) {
            text += QString::fromUtf8(bytes.sliced(i, length));
            i += length;
            continue;
        }
        text += u"\\x" + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
        ++i;
    }
    return text;
}

QString startedUtc(qint64 milliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(milliseconds, Qt::UTC).toString(Qt::ISODateWithMs);
}

QString startedLocal(qint64 milliseconds)
{
    return QDateTime::fromMSecsSinceEpoch(milliseconds).toString(u"yyyy-MM-dd HH:mm:ss"_s);
}

QString seconds(qint64 milliseconds)
{
    return QString::number(double(milliseconds) / 1000.0, 'f', 3);
}

QString detail(const RunRecord &record)
{
    QString text = record.detail;
    if (record.collectedMs)
        text += u"; collected at "_s + startedUtc(*record.collectedMs);
    return text;
}

QString csvHeader()
{
    return u"entry,program,parameters,started,seconds,ended,status,detail"_s;
}

QString csvLine(const RunRecord &record)
{
    const Fields fields = fieldsOf(record);
    return QStringList {csvField(fields.entry),
                        csvField(fields.program),
                        csvField(fields.parameters),
                        fields.started,
                        fields.seconds,
                        fields.ended,
                        fields.status ? QString::number(*fields.status) : QString(),
                        csvField(fields.detail)}
        .join(u',');
}

QString jsonLine(const RunRecord &record)
{
    const Fields fields = fieldsOf(record);
    return u"{\"entry\":"_s + jsonEntry(fields.entry) + u",\"program\":"
        + jsonString(fields.program) + u",\"parameters\":" + jsonString(fields.parameters)
        + u",\"started\":" + jsonString(fields.started) + u",\"seconds\":"
        + (fields.seconds.isEmpty() ? u"null"_s : fields.seconds) + u",\"ended\":"
        + jsonString(fields.ended) + u",\"status\":"
        + (fields.status ? QString::number(*fields.status) : u"null"_s) + u",\"detail\":"
        + (fields.detail.isEmpty() ? u"null"_s : jsonString(fields.detail)) + u'}';
}

QStringList table(const std::vector<RunRecord> &records)
{
    const QStringList titles {u"Started"_s, u"Entry"_s, u"Seconds"_s, u"Ended"_s, u"Program"_s};
    std::vector<QStringList> rows;
    rows.push_back(titles);
    for (const RunRecord &record : records) {
        QString ended = RunEndings::words(record);
        if (const QString why = detailOnOneLine(record); !why.isEmpty())
            ended += u": "_s + why;
        QString program = quotedBytes(record.program);
        if (!record.parameters.isEmpty())
            program += u' ' + quotedBytes(record.parameters);
        if (!record.opener.isEmpty())
            program += u" through "_s + quotedBytes(record.opener);
        rows.push_back({startedLocal(record.startedMs), record.entry,
                        record.hasLifetime() ? seconds(record.lifetimeMs) : QString(), ended,
                        program});
    }
    // Every column but the last is padded to its widest text; the numbers to the right.
    std::vector<qsizetype> widths(titles.size() - 1, 0);
    for (const QStringList &row : rows) {
        for (size_t column = 0; column < widths.size(); ++column)
            widths[column] = std::max(widths[column], row.at(qsizetype(column)).size());
    }
    QStringList lines;
    for (const QStringList &row : rows) {
        QString line;
        for (size_t column = 0; column < widths.size(); ++column) {
            const QString &cell = row.at(qsizetype(column));
            const bool number = column == 1 || column == 2;
            line +=
                (number ? cell.rightJustified(widths[column]) : cell.leftJustified(widths[column]))
                + u"  ";
        }
        lines.append(line + row.last());
    }
    return lines;
}

} // namespace HistoryFormat
