#include "import/JetReader.h"

#include "import/ChildProcess.h"
#include "import/ImportError.h"
#include "import/JetTable.h"
#include "report/Quoting.h"
#include "store/IntegerText.h"
#include "store/PathName.h"
#include "store/ScheduleSql.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>

namespace {

constexpr qint64 pageSize = 4096;
// Reading a schedule takes well under a second; a reading that runs this long is stuck in a
// damaged file.
constexpr std::chrono::seconds readingDeadline(60);

enum class Format { Other, Jet3, Jet4OrLater };

// The first page names the format at offset 4 and gives its version at offset 0x14.
Format formatOf(QByteArrayView head)
{
    static constexpr QByteArrayView jet("Standard Jet DB\0", 16);
    static constexpr QByteArrayView ace("Standard ACE DB\0", 16);
    if (head.size() <= 0x14 || head.at(0) != 0)
        return Format::Other;
    const QByteArrayView name = head.sliced(4, 16);
    if (name != jet && name != ace)
        return Format::Other;
    return head.at(0x14) == 0 ? Format::Jet3 : Format::Jet4OrLater;
}

QString typeName(int type)
{
    switch (type) {
    case JetTable::Boolean:
        return QStringLiteral("Yes/No");
    case JetTable::Byte:
        return QStringLiteral("Byte");
    case JetTable::Integer:
        return QStringLiteral("Integer");
    case JetTable::Long:
        return QStringLiteral("Long Integer");
    case JetTable::Currency:
        return QStringLiteral("Currency");
    case JetTable::Single:
        return QStringLiteral("Single");
    case JetTable::Double:
        return QStringLiteral("Double");
    case JetTable::DateTime:
        return QStringLiteral("Date/Time");
    case JetTable::Binary:
        return QStringLiteral("Binary");
    case JetTable::Text:
        return QStringLiteral("Text");
    case JetTable::OleObject:
        return QStringLiteral("OLE Object");
    case JetTable::Memo:
        return QStringLiteral("Memo");
    case JetTable::ReplicationId:
        return QStringLiteral("Replication ID");
    case JetTable::Decimal:
        return QStringLiteral("Decimal");
    default:
        return QStringLiteral("type %1").arg(type);
    }
}

bool isText(int type)
{
    return type == JetTable::Text || type == JetTable::Memo;
}

bool isWholeNumber(int type)
{
    return type == JetTable::Byte || type == JetTable::Integer || type == JetTable::Long;
}

bool isNumber(int type)
{
    return isWholeNumber(type) || type == JetTable::Single || type == JetTable::Double;
}

template<typename T> std::optional<T> littleEndian(const std::string &bytes)
{
    if (bytes.size() < sizeof(T))
        return std::nullopt;
    std::array<char, sizeof(T)> ordered {};
    std::copy_n(bytes.begin(), sizeof(T), ordered.begin());
    if constexpr (std::endian::native == std::endian::big)
        std::reverse(ordered.begin(), ordered.end());
    T value;
    std::memcpy(&value, ordered.data(), sizeof(T));
    return value;
}

// A number column's field as a whole number; nullopt for a fraction or a field cut short.
std::optional<qint64> wholeNumber(int type, const std::string &bytes)
{
    std::optional<double> real;
    switch (type) {
    case JetTable::Byte:
        return littleEndian<quint8>(bytes);
    case JetTable::Integer:
        return littleEndian<qint16>(bytes);
    case JetTable::Long:
        return littleEndian<qint32>(bytes);
    case JetTable::Single:
        real = littleEndian<float>(bytes);
        break;
    case JetTable::Double:
        real = littleEndian<double>(bytes);
        break;
    default:
        return std::nullopt;
    }
    // Beyond 2^53 a double holds no fractions, and no schedule value comes near it.
    if (!real || !std::isfinite(*real) || std::trunc(*real) != *real || std::fabs(*real) > 0x1p53)
        return std::nullopt;
    return qint64(*real);
}

// A Jet 4 text: UTF-16LE, or after the marker FF FE the compressed form, where each zero byte
// switches between one byte per character (the high byte being zero) and two. Nullopt when the
// bytes are not a whole text or break a character apart.
std::optional<QString> jetText(const std::string &bytes)
{
    QString text;
    const auto byteAt = [&](std::size_t i) {
        return char16_t(quint8(bytes[i]));
    };
    if (bytes.size() >= 2 && byteAt(0) == 0xff && byteAt(1) == 0xfe) {
        bool compressed = true;
        std::size_t i = 2;
        while (i < bytes.size()) {
            if (byteAt(i) == 0) {
                compressed = !compressed;
                ++i;
            } else if (compressed) {
                text.append(QChar(byteAt(i)));
                ++i;
            } else if (i + 1 < bytes.size()) {
                text.append(QChar(char16_t(byteAt(i) | byteAt(i + 1) << 8)));
                i += 2;
            } else {
                return std::nullopt;
            }
        }
    } else {
        if (bytes.size() % 2 != 0)
            return std::nullopt;
        text.reserve(qsizetype(bytes.size() / 2));
        for (std::size_t i = 0; i < bytes.size(); i += 2)
            text.append(QChar(char16_t(byteAt(i) | byteAt(i + 1) << 8)));
    }
    if (!QStringView(text).isValidUtf16())
        return std::nullopt;
    return text;
}

// Reads one table's fields into entries, refusing the first value the schedule cannot keep.
class EntryReader
{
public:
    EntryReader(const QString &path, const JetTable &table)
        : m_path(path)
        , m_table(table)
    { }

    // The columns the schedule needs, found without regard to case.
    void findColumns()
    {
        const QStringList names {ScheduleSql::programIndex, ScheduleSql::programName,
                                 ScheduleSql::programParameter, ScheduleSql::programTime,
                                 ScheduleSql::programCount};
        QStringList missing;
        for (int i = 0; i < names.size(); ++i) {
            m_columns[i] = -1;
            for (std::size_t c = 0; c < m_table.columns.size(); ++c) {
                if (names[i].compare(columnName(c), Qt::CaseInsensitive) == 0)
                    m_columns[i] = int(c);
            }
            if (m_columns[i] < 0)
                missing.append(names[i]);
        }
        if (!missing.isEmpty()) {
            fail(QStringLiteral("The table %1 in '%2' has no column %3.")
                     .arg(tableName(), m_path, missing.join(QStringLiteral(", "))));
        }
        requireType(Index, isWholeNumber, QStringLiteral("whole numbers"));
        requireType(Name, isText, QStringLiteral("texts"));
        requireType(Parameter, isText, QStringLiteral("texts"));
        const auto numberOrText = [](int type) {
            return isNumber(type) || isText(type);
        };
        requireType(Time, numberOrText, QStringLiteral("whole numbers"));
        requireType(Count, numberOrText, QStringLiteral("whole numbers"));
    }

    QStringList leftOut() const
    {
        QStringList names;
        for (std::size_t c = 0; c < m_table.columns.size(); ++c) {
            if (std::find(m_columns.begin(), m_columns.end(), int(c)) == m_columns.end())
                names.append(columnName(c));
        }
        return names;
    }

    QList<JetEntry> entries()
    {
        QList<JetEntry> entries;
        QSet<qint64> keys;
        for (std::size_t r = 0; r < m_table.rows.size(); ++r) {
            const auto &row = m_table.rows[r];
            const JetTable::Field &keyField = field(row, Index);
            const std::optional<qint64> key =
                keyField.isNull ? std::nullopt : wholeNumber(columnType(Index), keyField.bytes);
            if (!key) {
                fail(QStringLiteral("Row %1 of the table %2 in '%3' has no %4.")
                         .arg(r + 1)
                         .arg(tableName(), m_path, columnName(Index)));
            }
            if (keys.contains(*key)) {
                fail(QStringLiteral("Two entries of the table %1 in '%2' have the key %3.")
                         .arg(tableName(), m_path)
                         .arg(*key));
            }
            keys.insert(*key);
            JetEntry entry;
            entry.key = *key;
            entry.name = text(row, Name, entry);
            entry.parameter = text(row, Parameter, entry);
            entry.time = number(row, Time, entry);
            entry.count = number(row, Count, entry);
            entries.append(entry);
        }
        std::sort(entries.begin(), entries.end(),
                  [](const JetEntry &a, const JetEntry &b) { return a.key < b.key; });
        return entries;
    }

private:
    enum Column { Index, Name, Parameter, Time, Count };

    [[noreturn]] static void fail(const QString &message)
    {
        throw ImportError(ImportFailure::BadData, message);
    }

    QString tableName() const { return QString::fromStdString(m_table.tableName); }
    QString columnName(std::size_t c) const
    {
        return QString::fromStdString(m_table.columns[c].name);
    }
    QString columnName(Column column) const { return columnName(std::size_t(m_columns[column])); }
    int columnType(Column column) const { return m_table.columns[m_columns[column]].type; }
    const JetTable::Field &field(const std::vector<JetTable::Field> &row, Column column) const
    {
        return row[std::size_t(m_columns[column])];
    }

    template<typename Accepts>
    void requireType(Column column, Accepts accepts, const QString &what) const
    {
        if (!accepts(columnType(column))) {
            fail(QStringLiteral("The column %1 of the table %2 in '%3' is a %4 column; the "
                                "schedule keeps %5 there.")
                     .arg(columnName(column), tableName(), m_path, typeName(columnType(column)),
                          what));
        }
    }

    // The entry as a message names it: its key and, once read, its name.
    static QString entryLabel(const JetEntry &entry)
    {
        QString label = QStringLiteral("entry %1").arg(entry.key);
        if (entry.name.type == ValueView::Type::Text)
            label += u' ' + quotedBytes(entry.name.bytes);
        return label;
    }

    [[noreturn]] void refuse(Column column, const JetEntry &entry, const QString &why) const
    {
        fail(QStringLiteral("%1 of %2 in '%3' %4.")
                 .arg(columnName(column), entryLabel(entry), m_path, why));
    }

    std::optional<QString> textOf(const std::vector<JetTable::Field> &row, Column column,
                                  const JetEntry &entry) const
    {
        const JetTable::Field &value = field(row, column);
        if (value.isNull)
            return std::nullopt;
        const std::optional<QString> text = jetText(value.bytes);
        if (!text)
            refuse(column, entry, QStringLiteral("holds a broken character"));
        return text;
    }

    StoredValue text(const std::vector<JetTable::Field> &row, Column column,
                     const JetEntry &entry) const
    {
        const std::optional<QString> text = textOf(row, column, entry);
        return text ? StoredValue::text(*text) : StoredValue();
    }

    // A time or count: a number column's value, or a text column's text read by the rules the
    // schedule's integer columns apply; an empty text stays an empty text.
    StoredValue number(const std::vector<JetTable::Field> &row, Column column,
                       const JetEntry &entry) const
    {
        constexpr qint64 smallest = std::numeric_limits<qint32>::min();
        constexpr qint64 largest = std::numeric_limits<qint32>::max();
        const int type = columnType(column);
        if (isText(type)) {
            const std::optional<QString> text = textOf(row, column, entry);
            if (!text)
                return {};
            if (text->isEmpty())
                return StoredValue::text(QString());
            if (const std::optional<qint32> number = integerFromText(*text))
                return StoredValue::number(*number);
            refuse(column, entry,
                   QStringLiteral("is %1, which is not a whole number from %2 to %3")
                       .arg(quotedBytes(text->toUtf8()))
                       .arg(smallest)
                       .arg(largest));
        }
        const JetTable::Field &value = field(row, column);
        if (value.isNull)
            return {};
        const std::optional<qint64> number = wholeNumber(type, value.bytes);
        if (!number || *number < smallest || *number > largest) {
            // Only a Single or Double value gets here, or a field cut short.
            std::optional<double> real = littleEndian<double>(value.bytes);
            if (type == JetTable::Single)
                real = littleEndian<float>(value.bytes);
            refuse(column, entry,
                   QStringLiteral("is %1, which is not a whole number from %2 to %3")
                       .arg(real ? QString::number(*real, 'g', 17) : QStringLiteral("cut short"))
                       .arg(smallest)
                       .arg(largest));
        }
        return StoredValue::number(*number);
    }

    const QString &m_path;
    const JetTable &m_table;
    std::array<int, 5> m_columns {};
};

// The table read by libmdb in a child process, so that a crash of the library on a damaged file
// ends only the reading.
JetTable readTable(const QString &path)
{
    const std::string nativePath = PathName::toNative(path).toStdString();
    const std::string tableName = ScheduleSql::table.toStdString();
    const ChildOutcome read = runInChild(
        [&] { return serializeJetTable(readJetTable(nativePath.c_str(), tableName.c_str())); },
        readingDeadline);
    if (!read.started)
        throw ImportError(ImportFailure::NoProcess,
                          QStringLiteral("Cannot read '%1': %2.").arg(path, read.failure));
    if (!read.finished) {
        throw ImportError(
            ImportFailure::BadData,
            QStringLiteral("'%1' is damaged: reading it stopped, as %2.").arg(path, read.failure));
    }
    std::optional<JetTable> table =
        deserializeJetTable(std::string_view(read.output.constData(), read.output.size()));
    if (!table)
        throw ImportError(ImportFailure::BadData,
                          QStringLiteral("'%1' is damaged: reading it gave no whole "
                                         "table.")
                              .arg(path));
    switch (table->outcome) {
    case JetTable::Outcome::Read:
        break;
    case JetTable::Outcome::Damaged:
        throw ImportError(ImportFailure::BadData,
                          QStringLiteral("'%1' is damaged: %2.")
                              .arg(path, QString::fromStdString(table->detail)));
    case JetTable::Outcome::NoTable:
        throw ImportError(ImportFailure::BadData,
                          QStringLiteral("'%1' has no table %2.").arg(path, ScheduleSql::table));
    }
    return std::move(*table);
}

} // namespace

bool isJetFile(const QString &path)
{
    QFile file;
    return PathName::openForReading(file, path).isEmpty()
        && formatOf(file.read(0x15)) != Format::Other;
}

JetSchedule readJetSchedule(const QString &path)
{
    QFile file;
    if (const QString reason = PathName::openForReading(file, path); !reason.isEmpty())
        throw ImportError(ImportFailure::CannotRead,
                          QStringLiteral("Cannot open '%1': %2.").arg(path, reason));
    const QByteArray head = file.read(0x15);
    const qint64 size = file.size();
    file.close();
    switch (formatOf(head)) {
    case Format::Other: {
        QString message = QStringLiteral("'%1' is not a Jet database file.").arg(path);
        if (head.startsWith(QByteArrayView("SQLite format 3\0", 16)))
            message += QStringLiteral(" It is an SQLite database already.");
        throw ImportError(ImportFailure::BadData, message);
    }
    case Format::Jet3:
        throw ImportError(ImportFailure::BadData,
                          QStringLiteral("'%1' is a Jet 3 database file; only Jet 4 "
                                         "and later files can be read.")
                              .arg(path));
    case Format::Jet4OrLater:
        break;
    }
    if (size % pageSize != 0) {
        throw ImportError(ImportFailure::BadData,
                          QStringLiteral("'%1' is cut short or damaged: its size, %2 "
                                         "bytes, is not a whole number of pages.")
                              .arg(path)
                              .arg(size));
    }

    const JetTable table = readTable(path);
    EntryReader reader(path, table);
    reader.findColumns();
    JetSchedule schedule;
    schedule.tableName = QString::fromStdString(table.tableName);
    schedule.entries = reader.entries();
    schedule.leftOut = reader.leftOut();
    return schedule;
}
