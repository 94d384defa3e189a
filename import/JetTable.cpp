#include "import/JetTable.h"

// glib first: mdbtools.h includes it inside its extern "C" block, where C++ cannot take it.
#include <glib.h>
#include <mdbtools.h>

#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <string>

static_assert(int(JetTable::Boolean) == int(MDB_BOOL) && int(JetTable::Long) == int(MDB_LONGINT)
              && int(JetTable::Text) == int(MDB_TEXT) && int(JetTable::OleObject) == int(MDB_OLE)
              && int(JetTable::Memo) == int(MDB_MEMO)
              && int(JetTable::Decimal) == int(MDB_NUMERIC));

namespace {

constexpr std::size_t pageSize = 4096;
// The buffer bound to a Memo column: libmdb converts the value into it while fetching the row,
// up to the bind size, and then copies each raw chunk of it there, a chunk being at most a page.
constexpr std::size_t bindSize = 2 * pageSize;
// A longer value is taken for a length field gone wrong; no program parameter is near it.
constexpr std::uint32_t longestLongValue = 64u << 20;
// Where a row starts within its page; the bits above are flags.
constexpr int rowOffsetMask = 0x1fff;

struct HandleCloser
{
    void operator()(MdbHandle *handle) const { mdb_close(handle); }
};
struct TableFreer
{
    void operator()(MdbTableDef *table) const { mdb_free_tabledef(table); }
};

JetTable damaged(std::string detail)
{
    JetTable table;
    table.outcome = JetTable::Outcome::Damaged;
    table.detail = std::move(detail);
    return table;
}

std::uint32_t littleEndian32(const unsigned char *bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16
        | std::uint32_t(bytes[3]) << 24;
}

MdbColumn *columnAt(MdbTableDef *table, unsigned index)
{
    return static_cast<MdbColumn *>(g_ptr_array_index(table->columns, index));
}

// A Memo value whole: libmdb follows its pages and hands over each chunk raw. False when the
// chunks do not add up to the length its field gives.
bool readLongValue(MdbHandle *mdb, MdbColumn *column, const MdbField &field, const char *chunk,
                   std::string &value)
{
    if (field.siz < MDB_MEMO_OVERHEAD)
        return false;
    unsigned char header[MDB_MEMO_OVERHEAD];
    std::memcpy(header, mdb->pg_buf + field.start, MDB_MEMO_OVERHEAD);
    const std::uint32_t length = littleEndian32(header) & 0x3fffffffu;
    if (length > longestLongValue)
        return false;
    value.assign(chunk, mdb_ole_read(mdb, column, header, bindSize));
    while (value.size() < length) {
        const std::size_t read = mdb_ole_read_next(mdb, column, header);
        if (read == 0)
            break;
        value.append(chunk, read);
    }
    return value.size() == length;
}

void putNumber(std::string &out, std::uint32_t number)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(char((number >> shift) & 0xff));
}

void putText(std::string &out, const std::string &text)
{
    putNumber(out, std::uint32_t(text.size()));
    out += text;
}

// Reads what serializeJetTable wrote, refusing to go past the end.
class Reader
{
public:
    explicit Reader(std::string_view bytes)
        : m_bytes(bytes)
    { }

    bool byte(std::uint8_t &byte)
    {
        if (m_bytes.empty())
            return false;
        byte = std::uint8_t(m_bytes.front());
        m_bytes.remove_prefix(1);
        return true;
    }
    bool number(std::uint32_t &number)
    {
        if (m_bytes.size() < 4)
            return false;
        number = littleEndian32(reinterpret_cast<const unsigned char *>(m_bytes.data()));
        m_bytes.remove_prefix(4);
        return true;
    }
    bool text(std::string &text)
    {
        std::uint32_t size = 0;
        if (!number(size) || m_bytes.size() < size)
            return false;
        text.assign(m_bytes.substr(0, size));
        m_bytes.remove_prefix(size);
        return true;
    }
    bool atEnd() const { return m_bytes.empty(); }

private:
    std::string_view m_bytes;
};

} // namespace

JetTable readJetTable(const char *path, const char *tableName)
{
    // libmdb converts names to the encoding this variable asks for; they must come as UTF-8.
    ::unsetenv("MDBICONV");
    struct stat status = {};
    if (::stat(path, &status) != 0)
        return damaged("it cannot be read");
    const auto pages = std::uint64_t(status.st_size) / pageSize;

    const std::unique_ptr<MdbHandle, HandleCloser> mdb(mdb_open(path, MDB_NOFLAGS));
    if (!mdb)
        return damaged("its first page cannot be read");
    if (!mdb_read_catalog(mdb.get(), MDB_TABLE))
        return damaged("its list of tables cannot be read");
    MdbCatalogEntry *found = nullptr;
    bool catalogListsItself = false;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto *entry = static_cast<MdbCatalogEntry *>(g_ptr_array_index(mdb->catalog, i));
        if (std::strcmp(entry->object_name, "MSysObjects") == 0)
            catalogListsItself = true;
        if (!found && g_ascii_strcasecmp(entry->object_name, tableName) == 0)
            found = entry;
    }
    // Every Jet file lists its own list of tables; one that does not has lost its pages.
    if (!catalogListsItself)
        return damaged("its list of tables cannot be read");
    if (!found) {
        JetTable table;
        table.outcome = JetTable::Outcome::NoTable;
        return table;
    }

    const std::unique_ptr<MdbTableDef, TableFreer> source(mdb_read_table(found));
    if (!source || !mdb_read_columns(source.get()))
        return damaged("the definition of its table " + std::string(found->object_name)
                       + " cannot be read");
    MdbTableDef *table = source.get();
    // Fills in the table's list of indexes; what it returns says nothing.
    mdb_read_indices(table);
    if (!table->indices)
        return damaged("the indexes of its table " + std::string(found->object_name)
                       + " cannot be read");
    for (unsigned i = 0; i < table->indices->len; ++i) {
        const auto *index = static_cast<MdbIndex *>(g_ptr_array_index(table->indices, i));
        if (index->first_pg >= pages)
            return damaged("an index of its table lies beyond the end of the file");
    }

    JetTable result;
    result.outcome = JetTable::Outcome::Read;
    result.tableName = found->object_name;
    mdb_set_bind_size(mdb.get(), bindSize);
    std::vector<std::unique_ptr<char[]>> chunks(table->num_cols);
    for (unsigned i = 0; i < table->num_cols; ++i) {
        MdbColumn *column = columnAt(table, i);
        result.columns.push_back({column->name, column->col_type});
        if (column->col_type == MDB_MEMO) {
            chunks[i] = std::make_unique<char[]>(bindSize);
            mdb_bind_column(table, int(i) + 1, chunks[i].get(), nullptr);
        }
    }

    mdb_rewind_table(table);
    std::vector<MdbField> fields(table->num_cols);
    while (mdb_fetch_row(table)) {
        // The fetch leaves the row's page loaded; cracking the row again gives the NULL flags
        // and the raw bytes that the bound values have lost.
        int start = 0;
        std::size_t size = 0;
        if (mdb_find_row(mdb.get(), int(table->cur_row) - 1, &start, &size) != 0)
            return damaged("a row cannot be found again");
        if (mdb_crack_row(table, start & rowOffsetMask, size, fields.data()) < int(table->num_cols))
            return damaged("a row cannot be taken apart");
        std::vector<JetTable::Field> row(table->num_cols);
        for (const MdbField &field : std::span(fields.data(), table->num_cols)) {
            if (field.colnum < 0 || unsigned(field.colnum) >= table->num_cols || field.start < 0
                || field.siz < 0 || std::size_t(field.start) + std::size_t(field.siz) > pageSize)
                return damaged("a row's fields lie outside its page");
            MdbColumn *column = columnAt(table, unsigned(field.colnum));
            JetTable::Field &value = row[std::size_t(field.colnum)];
            value.isNull = field.is_null != 0;
            if (value.isNull || column->col_type == MDB_OLE || column->col_type == MDB_BOOL)
                continue;
            if (column->col_type == MDB_MEMO) {
                if (!readLongValue(mdb.get(), column, field,
                                   chunks[std::size_t(field.colnum)].get(), value.bytes))
                    return damaged("a Memo value of row " + std::to_string(result.rows.size() + 1)
                                   + " is incomplete");
            } else {
                value.bytes.assign(reinterpret_cast<const char *>(mdb->pg_buf) + field.start,
                                   std::size_t(field.siz));
            }
        }
        result.rows.push_back(std::move(row));
    }
    // A data page that is missing or damaged ends the scan early without a word.
    if (result.rows.size() != table->num_rows) {
        return damaged("its table " + result.tableName + " should hold "
                       + std::to_string(table->num_rows) + " rows, but "
                       + std::to_string(result.rows.size()) + " can be read");
    }
    return result;
}

std::string serializeJetTable(const JetTable &table)
{
    std::string out;
    out.push_back(char(table.outcome));
    putText(out, table.detail);
    putText(out, table.tableName);
    putNumber(out, std::uint32_t(table.columns.size()));
    for (const JetTable::Column &column : table.columns) {
        putText(out, column.name);
        putNumber(out, std::uint32_t(column.type));
    }
    putNumber(out, std::uint32_t(table.rows.size()));
    for (const auto &row : table.rows) {
        for (const JetTable::Field &field : row) {
            out.push_back(field.isNull ? 1 : 0);
            putText(out, field.bytes);
        }
    }
    return out;
}

std::optional<JetTable> deserializeJetTable(std::string_view bytes)
{
    Reader in(bytes);
    JetTable table;
    std::uint8_t outcome = 0;
    std::uint32_t columns = 0;
    if (!in.byte(outcome) || outcome > std::uint8_t(JetTable::Outcome::NoTable)
        || !in.text(table.detail) || !in.text(table.tableName) || !in.number(columns))
        return std::nullopt;
    table.outcome = JetTable::Outcome(outcome);
    for (std::uint32_t i = 0; i < columns; ++i) {
        JetTable::Column column;
        std::uint32_t type = 0;
        if (!in.text(column.name) || !in.number(type))
            return std::nullopt;
        column.type = int(type);
        table.columns.push_back(std::move(column));
    }
    std::uint32_t rows = 0;
    if (!in.number(rows))
        return std::nullopt;
    for (std::uint32_t r = 0; r < rows; ++r) {
        std::vector<JetTable::Field> row(columns);
        for (JetTable::Field &field : row) {
            std::uint8_t isNull = 0;
            if (!in.byte(isNull) || !in.text(field.bytes))
                return std::nullopt;
            field.isNull = isNull != 0;
        }
        table.rows.push_back(std::move(row));
    }
    if (!in.atEnd())
        return std::nullopt;
    return table;
}
