// Fuzz target: the connection string's items, and every value of the schedule table read as text
// and as 32- and 64-bit integer through the list query, against an independent model of the rules.
//
// The input is lines of bytes:
//   1. a connection string (also tried as a database path in a connection string of our own);
//   2. the declared types of the table's five columns, separated by "|";
//   3. and on: rows of up to five values separated by "|": "N" is NULL, "i…" an integer,
//      "r…" a real, "t…" a text, "b…" a blob (the bytes after the letter, as they are, so not
//      always UTF-8), and anything else that text itself ("" included).
// SQLite itself says what the file holds; the model says how the store must read it.
#include "FuzzSupport.h"
#include "IntegerTextModel.h"
#include "report/DataError.h"
#include "store/Connection.h"
#include "store/ConnectionString.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"

#include <QChar>
#include <QTemporaryDir>

#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <memory>

#include <sqlite3.h>

namespace {

const std::array<QString, 5> columnNames = {
    QStringLiteral("ProgramIndex"), QStringLiteral("ProgramName"),
    QStringLiteral("ProgramParameter"), QStringLiteral("ProgramTime"),
    QStringLiteral("ProgramCount")};

constexpr std::size_t maxRows = 16;

std::string upperAscii(std::string_view text)
{
    std::string upper(text);
    for (char &c : upper) {
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    }
    return upper;
}

enum class Affinity { Integer, Text, Blob, Real, Numeric };

// SQLite's rules for the affinity of a declared type, in their order.
Affinity affinityOf(std::string_view declaredType)
{
    const std::string type = upperAscii(declaredType);
    const auto has = [&](std::string_view part) {
        return type.find(part) != std::string::npos;
    };
    if (has("INT"))
        return Affinity::Integer;
    if (has("CHAR") || has("CLOB") || has("TEXT"))
        return Affinity::Text;
    if (has("BLOB") || type.empty())
        return Affinity::Blob;
    if (has("REAL") || has("FLOA") || has("DOUB"))
        return Affinity::Real;
    return Affinity::Numeric;
}

// An integer field is one whose declared type gives INTEGER or NUMERIC affinity.
bool isIntegerField(std::string_view declaredType)
{
    const Affinity affinity = affinityOf(declaredType);
    return affinity == Affinity::Integer || affinity == Affinity::Numeric;
}

// One value as the file holds it.
struct Stored
{
    int type = SQLITE_NULL;
    std::int64_t integer = 0;
    double real = 0;
    std::string bytes;
};

// An empty text (or blob) that another tool stored in an integer field reads as NULL, as the
// store itself writes an empty text there.
bool readsAsNull(const Stored &value, bool integerField)
{
    if (value.type == SQLITE_NULL)
        return true;
    return integerField && (value.type == SQLITE_TEXT || value.type == SQLITE_BLOB)
        && value.bytes.empty();
}

// Stored bytes read as UTF-8: each byte that does not belong to a well-formed sequence reads
// as U+FFFD, and a byte-order mark at the very start is not part of the text.
std::u16string decodeUtf8(std::string_view bytes)
{
    std::u16string text;
    std::size_t at = bytes.starts_with("\xEF\xBB\xBF") ? 3 : 0;
    while (at < bytes.size()) {
        const unsigned char lead = bytes[at];
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        char32_t point = 0;
        if (lead < 0x80) {
            length = 1;
            point = lead;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
            point = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            point = lead & 0x0F;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            point = lead & 0x07;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        }
        bool wellFormed = length > 0 && at + length <= bytes.size();
        for (std::size_t i = 1; wellFormed && i < length; ++i) {
            const unsigned char next = bytes[at + i];
            wellFormed = i == 1 ? next >= low && next <= high : next >= 0x80 && next <= 0xBF;
            point = (point << 6) | (next & 0x3F);
        }
        if (!wellFormed) {
            text += u'\uFFFD';
            ++at;
            continue;
        }
        if (point > 0xFFFF) {
            text += char16_t(0xD800 + ((point - 0x10000) >> 10));
            text += char16_t(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            text += char16_t(point);
        }
        at += length;
    }
    return text;
}

// A real in decimal with up to 15 significant digits, rounded half away from zero from its exact
// value, trailing zeros dropped; as "d.ddde±XX" when the exponent is below -4 or above 14.
std::string realText(double value)
{
    if (value == 0)
        return "0";
    if (std::isinf(value))
        return value < 0 ? "-inf" : "inf";
    // glibc prints the exact decimal expansion, which no double takes 800 digits to write.
    char exact[900];
    std::snprintf(exact, sizeof exact, "%.800e", value);
    const std::string_view text(exact);
    const bool negative = text.front() == '-';
    const std::size_t e = text.find('e');
    std::string digits;
    for (const char c : text.substr(0, e)) {
        if (c >= '0' && c <= '9')
            digits += c;
    }
    int exponent = std::atoi(exact + e + 1);
    const bool up = digits[15] >= '5';
    digits.resize(15);
    if (up) {
        std::size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9')
            digits[--i] = '0';
        if (i == 0) {
            digits.insert(digits.begin(), '1');
            digits.pop_back();
            ++exponent;
        } else {
            ++digits[i - 1];
        }
    }
    while (digits.size() > 1 && digits.back() == '0')
        digits.pop_back();
    std::string out = negative ? "-" : "";
    if (exponent < -4 || exponent >= 15) {
        out += digits.substr(0, 1);
        if (digits.size() > 1)
            out += "." + digits.substr(1);
        char power[8];
        std::snprintf(power, sizeof power, "e%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        return out + power;
    }
    if (exponent < 0)
        return out + "0." + std::string(std::size_t(-exponent - 1), '0') + digits;
    if (digits.size() <= std::size_t(exponent) + 1)
        return out + digits + std::string(std::size_t(exponent) + 1 - digits.size(), '0');
    return out + digits.substr(0, std::size_t(exponent) + 1) + "."
        + digits.substr(std::size_t(exponent) + 1);
}

std::u16string ascii(std::string_view text)
{
    return std::u16string(text.begin(), text.end());
}

// A value read as text: NULL is empty, numbers in decimal, text and blobs as their bytes read
// as UTF-8.
std::u16string textOf(const Stored &value, bool integerField)
{
    if (readsAsNull(value, integerField))
        return {};
    switch (value.type) {
    case SQLITE_INTEGER:
        return ascii(std::to_string(value.integer));
    case SQLITE_FLOAT:
        return ascii(realText(value.real));
    default:
        return decodeUtf8(value.bytes);
    }
}

// A value read as integer: NULL is 0; a number must be a whole number in the 32-bit range; a
// text must read as one by the integer rules. Anything else gives no value.
std::optional<std::int32_t> integerOf(const Stored &value, bool integerField)
{
    if (readsAsNull(value, integerField))
        return 0;
    switch (value.type) {
    case SQLITE_INTEGER:
        if (value.integer >= INT32_MIN && value.integer <= INT32_MAX)
            return std::int32_t(value.integer);
        return std::nullopt;
    case SQLITE_FLOAT:
        if (std::trunc(value.real) == value.real && value.real >= INT32_MIN
            && value.real <= INT32_MAX)
            return std::int32_t(value.real);
        return std::nullopt;
    default:
        return model::integerFromText(decodeUtf8(value.bytes));
    }
}

// The same as a 64-bit whole number.
std::optional<std::int64_t> largeIntegerOf(const Stored &value, bool integerField)
{
    if (readsAsNull(value, integerField))
        return 0;
    switch (value.type) {
    case SQLITE_INTEGER:
        return value.integer;
    case SQLITE_FLOAT:
        // -2^63 and 2^63 are doubles exactly.
        if (std::trunc(value.real) == value.real && value.real >= -0x1p63 && value.real < 0x1p63)
            return std::int64_t(value.real);
        return std::nullopt;
    default:
        return model::largeIntegerFromText(decodeUtf8(value.bytes));
    }
}

// White space as Unicode defines it.
bool isWhiteSpace(char16_t c)
{
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680
        || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F
        || c == 0x3000;
}

std::u16string trimmed(std::u16string_view text)
{
    while (!text.empty() && isWhiteSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isWhiteSpace(text.back()))
        text.remove_suffix(1);
    return std::u16string(text);
}

// Code points under simple case folding; a lone surrogate stands for itself.
std::u32string folded(std::u16string_view text)
{
    std::u32string points;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t point = text[i];
        if (QChar::isHighSurrogate(point) && i + 1 < text.size()
            && QChar::isLowSurrogate(text[i + 1])) {
            point = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        points += QChar::toCaseFolded(point);
    }
    return points;
}

struct Item
{
    std::u16string key;
    std::u16string value;
};

// The connection string's rules: items "key=value" separated by ";"; a piece without "=" is no
// item, nor is one whose key is empty. Keys and values are trimmed of white space, except a
// value that begins (after spaces) with a double quote: it runs to the next double quote, may
// hold ";", and the rest of its item after the closing quote is ignored.
std::vector<Item> connectionItems(std::u16string_view text)
{
    enum class Part { Key, BeforeValue, Plain, Quoted, AfterQuote };
    std::vector<Item> items;
    Part part = Part::Key;
    std::u16string key;
    std::u16string value;
    const auto finish = [&] {
        const bool quoted = part == Part::Quoted || part == Part::AfterQuote;
        Item item {trimmed(key), quoted ? value : trimmed(value)};
        if (!item.key.empty())
            items.push_back(std::move(item));
        key.clear();
        value.clear();
        part = Part::Key;
    };
    for (const char16_t c : text) {
        switch (part) {
        case Part::Key:
            if (c == u';')
                key.clear();
            else if (c == u'=')
                part = Part::BeforeValue;
            else
                key += c;
            break;
        case Part::BeforeValue:
            if (c == u'"') {
                part = Part::Quoted;
            } else if (c == u';') {
                finish();
            } else if (c != u' ') {
                value += c;
                part = Part::Plain;
            }
            break;
        case Part::Plain:
            if (c == u';')
                finish();
            else
                value += c;
            break;
        case Part::Quoted:
            if (c == u'"')
                part = Part::AfterQuote;
            else
                value += c;
            break;
        case Part::AfterQuote:
            if (c == u';')
                finish();
            break;
        }
    }
    if (part != Part::Key)
        finish();
    return items;
}

// The value of the first item whose key matches, case ignored; "" when there is none.
std::u16string connectionItem(std::u16string_view text, std::u16string_view key)
{
    const std::u32string wanted = folded(key);
    for (const Item &item : connectionItems(text)) {
        if (folded(item.key) == wanted)
            return item.value;
    }
    return {};
}

// A path that the connection string of the data module carries unchanged: it holds no double
// quote, and it is quoted (holding ";") or has no white space at either end.
bool pathFitsConnectionString(std::u16string_view path)
{
    if (path.find(u'"') != std::u16string_view::npos)
        return false;
    if (path.find(u';') != std::u16string_view::npos || path.empty())
        return true;
    return !isWhiteSpace(path.front()) && !isWhiteSpace(path.back());
}

void checkItem(const QString &text, const QString &key, const std::u16string &expected)
{
    const QString actual = ConnectionString::item(text, key);
    if (fuzz::viewOf(actual) != expected) {
        fuzz::mismatch("connectionItem(" + fuzz::escaped(key) + ")", fuzz::escaped(text),
                       fuzz::escaped(expected), fuzz::escaped(actual));
    }
}

void checkConnectionString(const QString &text)
{
    QStringList keys = {QStringLiteral("Provider"), QStringLiteral("Data Source"),
                        QStringLiteral("Persist Security Info"), QStringLiteral("DATA SOURCE"),
                        QStringLiteral("data source")};
    for (const Item &item : connectionItems(fuzz::viewOf(text))) {
        const QString key = fuzz::fromView(item.key);
        keys << key << key.toUpper() << key.toLower();
    }
    for (const QString &key : keys)
        checkItem(text, key, connectionItem(fuzz::viewOf(text), fuzz::viewOf(key)));

    if (!pathFitsConnectionString(fuzz::viewOf(text)))
        return;
    const QString ours = ConnectionString::forPath(text);
    checkItem(ours, QStringLiteral("Data Source"), std::u16string(fuzz::viewOf(text)));
    checkItem(ours, QStringLiteral("Provider"), ascii(ConnectionString::providerName));
    checkItem(ours, QStringLiteral("Persist Security Info"), u"False");
}

// The scratch database file, made once per run and kept open for writing the cases.
class Scratch final
{
public:
    Scratch()
        : m_path(m_dir.filePath(QStringLiteral("ProgramRun.mdb")))
    {
        if (!m_dir.isValid()
            || sqlite3_open_v2(m_path.toUtf8().constData(), &m_db,
                               SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr)
                != SQLITE_OK
            || !exec("PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF")) {
            std::fprintf(stderr, "cannot make the scratch database %s\n", qPrintable(m_path));
            std::abort();
        }
    }
    ~Scratch() { sqlite3_close(m_db); }
    Scratch(const Scratch &) = delete;
    Scratch &operator=(const Scratch &) = delete;

    const QString &path() const { return m_path; }
    sqlite3 *db() const { return m_db; }
    bool exec(const std::string &sql) const
    {
        return sqlite3_exec(m_db, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK;
    }

private:
    QTemporaryDir m_dir;
    QString m_path;
    sqlite3 *m_db = nullptr;
};

class Statement final
{
public:
    Statement(sqlite3 *db, const std::string &sql)
    {
        if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &m_stmt, nullptr) != SQLITE_OK)
            m_stmt = nullptr;
    }
    ~Statement() { sqlite3_finalize(m_stmt); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;
    sqlite3_stmt *get() const { return m_stmt; }

private:
    sqlite3_stmt *m_stmt = nullptr;
};

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

// Keeps what a declared type may hold without ending the column definition.
std::string declaredType(std::string_view text)
{
    std::string type;
    for (const char c : text) {
        const unsigned char u = c;
        if (std::isalnum(u) || u >= 0x80 || c == ' ' || c == '(' || c == ')' || c == ','
            || c == '_')
            type += c;
    }
    return type;
}

std::int64_t wrappingDecimal(std::string_view text)
{
    const bool negative = text.starts_with('-');
    std::uint64_t value = 0;
    for (const char c : text.substr(negative ? 1 : 0)) {
        if (c < '0' || c > '9')
            break;
        value = value * 10 + std::uint64_t(c - '0');
    }
    return std::int64_t(negative ? 0 - value : value);
}

bool bindValue(sqlite3_stmt *stmt, int index, std::string_view entry)
{
    const std::string_view rest = entry.empty() ? entry : entry.substr(1);
    const char kind = entry.empty() ? ' ' : entry.front();
    if (kind == 'N')
        return sqlite3_bind_null(stmt, index) == SQLITE_OK;
    if (kind == 'i')
        return sqlite3_bind_int64(stmt, index, wrappingDecimal(rest)) == SQLITE_OK;
    if (kind == 'r')
        return sqlite3_bind_double(stmt, index, std::strtod(std::string(rest).c_str(), nullptr))
            == SQLITE_OK;
    if (kind == 'b')
        return sqlite3_bind_blob64(stmt, index, rest.data(), rest.size(), SQLITE_TRANSIENT)
            == SQLITE_OK;
    const std::string_view text = kind == 't' ? rest : entry;
    return sqlite3_bind_text64(stmt, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8)
        == SQLITE_OK;
}

// Writes the table the input describes; false when SQLite refuses it (a declared type that is
// no type, a constraint the values break).
bool writeTable(const Scratch &scratch, const std::vector<std::string_view> &lines)
{
    const std::vector<std::string_view> types = split(lines.at(1), '|');
    std::string sql = "DROP TABLE IF EXISTS QZProgram; CREATE TABLE QZProgram (";
    for (std::size_t i = 0; i < columnNames.size(); ++i) {
        sql += (i ? ", " : "") + columnNames[i].toStdString() + " ";
        sql += declaredType(i < types.size() ? types[i] : std::string_view());
    }
    if (!scratch.exec(sql + ")"))
        return false;
    Statement insert(scratch.db(), "INSERT INTO QZProgram VALUES (?, ?, ?, ?, ?)");
    if (!insert.get())
        return false;
    for (std::size_t row = 2; row < lines.size() && row < 2 + maxRows; ++row) {
        const std::vector<std::string_view> values = split(lines[row], '|');
        sqlite3_reset(insert.get());
        for (int i = 0; i < int(columnNames.size()); ++i) {
            const bool bound = std::size_t(i) < values.size()
                ? bindValue(insert.get(), i + 1, values[std::size_t(i)])
                : sqlite3_bind_null(insert.get(), i + 1) == SQLITE_OK;
            if (!bound)
                return false;
        }
        if (sqlite3_step(insert.get()) != SQLITE_DONE)
            return false;
    }
    return true;
}

struct Table
{
    std::vector<std::string> declaredTypes;
    std::vector<std::vector<Stored>> rows;
};

// What the file holds, as SQLite itself reads it back through the list query.
Table readTable(const Scratch &scratch)
{
    Table table;
    Statement select(scratch.db(), ScheduleSql::list.toStdString());
    sqlite3_stmt *stmt = select.get();
    for (int i = 0; stmt && i < sqlite3_column_count(stmt); ++i) {
        const char *type = sqlite3_column_decltype(stmt, i);
        table.declaredTypes.emplace_back(type ? type : "");
    }
    while (stmt && sqlite3_step(stmt) == SQLITE_ROW) {
        std::vector<Stored> row;
        for (int i = 0; i < sqlite3_column_count(stmt); ++i) {
            Stored value;
            value.type = sqlite3_column_type(stmt, i);
            value.integer = sqlite3_column_int64(stmt, i);
            value.real = sqlite3_column_double(stmt, i);
            const void *bytes = sqlite3_column_blob(stmt, i);
            if (bytes)
                value.bytes.assign(static_cast<const char *>(bytes),
                                   std::size_t(sqlite3_column_bytes(stmt, i)));
            row.push_back(std::move(value));
        }
        table.rows.push_back(std::move(row));
    }
    return table;
}

// The stored value and its column's declared type, for the account of a mismatch.
std::string described(const Stored &value, const std::string &declaredType)
{
    std::string text;
    switch (value.type) {
    case SQLITE_NULL:
        text = "NULL";
        break;
    case SQLITE_INTEGER:
        text = "integer " + std::to_string(value.integer);
        break;
    case SQLITE_FLOAT: {
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "real %.17g", value.real);
        text = buffer;
        break;
    }
    default:
        text = value.type == SQLITE_TEXT ? "text bytes" : "blob bytes";
        for (const unsigned char c : value.bytes) {
            char buffer[8];
            std::snprintf(buffer, sizeof buffer, " %02x", c);
            text += buffer;
        }
    }
    return text + " in a column declared \"" + declaredType + "\"";
}

void checkField(Query &query, std::size_t row, const QString &name, const Stored &value,
                const std::string &declaredType)
{
    const std::string where = "row " + std::to_string(row) + " field " + name.toStdString();
    const std::string input = described(value, declaredType);
    const bool integerField = isIntegerField(declaredType);
    Field field = query.fieldByName(name);
    const bool isNull = readsAsNull(value, integerField);
    if (field.isNull() != isNull)
        fuzz::mismatch(where + " isNull", input, isNull ? "true" : "false",
                       field.isNull() ? "true" : "false");
    const std::u16string text = textOf(value, integerField);
    const QString actualText = field.asString();
    if (fuzz::viewOf(actualText) != text)
        fuzz::mismatch(where + " asString", input, fuzz::escaped(text), fuzz::escaped(actualText));

    const std::optional<std::int32_t> number = integerOf(value, integerField);
    const std::string expected = number
        ? std::to_string(*number)
        : fuzz::escaped(u"'" + text + u"' is not a valid integer value for field '"
                        + std::u16string(fuzz::viewOf(name)) + u"'");
    std::string actual;
    try {
        actual = std::to_string(field.asInteger());
    } catch (const DatabaseError &error) {
        actual = fuzz::escaped(error.message());
    }
    if (actual != expected)
        fuzz::mismatch(where + " asInteger", input, expected, actual);

    const std::optional<std::int64_t> large = largeIntegerOf(value, integerField);
    const std::string expectedLarge = large
        ? std::to_string(*large)
        : fuzz::escaped(u"'" + text + u"' is not a valid integer value for field '"
                        + std::u16string(fuzz::viewOf(name)) + u"'");
    std::string actualLarge;
    try {
        actualLarge = std::to_string(field.asLargeInt());
    } catch (const DatabaseError &error) {
        actualLarge = fuzz::escaped(error.message());
    }
    if (actualLarge != expectedLarge)
        fuzz::mismatch(where + " asLargeInt", input, expectedLarge, actualLarge);
}

void checkTable(const Scratch &scratch)
{
    const Table table = readTable(scratch);
    if (table.declaredTypes.size() != columnNames.size())
        return;
    const std::string whole = "the table of " + std::to_string(table.rows.size()) + " rows";
    Connection connection(scratch.path());
    Query query(QStringLiteral("ADOQuery1"));
    query.setConnection(&connection);
    query.sql() = QStringList {ScheduleSql::list};
    try {
        query.open();
        if (std::size_t(query.recordCount()) != table.rows.size())
            fuzz::mismatch("recordCount", whole, std::to_string(table.rows.size()),
                           std::to_string(query.recordCount()));
        for (std::size_t row = 0; row < table.rows.size(); ++row) {
            if (query.eof())
                fuzz::mismatch("eof before the last row", whole, "false", "true");
            for (std::size_t column = 0; column < columnNames.size(); ++column) {
                checkField(query, row, columnNames[column], table.rows[row][column],
                           table.declaredTypes[column]);
            }
            query.next();
        }
        if (!query.eof())
            fuzz::mismatch("eof after the last row", whole, "true", "false");
    } catch (const DatabaseError &error) {
        fuzz::mismatch("walking the list query", whole, "no error", fuzz::escaped(error.message()));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    static const std::unique_ptr<Scratch> scratch = std::make_unique<Scratch>();
    const std::vector<std::string_view> lines =
        split(std::string_view(reinterpret_cast<const char *>(data), size), '\n');
    const QByteArray connectionText(lines.front().data(), qsizetype(lines.front().size()));
    checkConnectionString(QString::fromUtf8(connectionText));
    if (lines.size() >= 2 && writeTable(*scratch, lines))
        checkTable(*scratch);
    return 0;
}
