#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// One table of a Jet database file as the file stores it: the columns with their Jet types, and
// each row's fields as raw bytes (numbers little-endian, texts in the file's own encoding, a Memo
// value whole). Plain standard C++: it is read in a child process and sent back as bytes.
struct JetTable
{
    // The column types by the codes Jet files store.
    enum Type : int {
        Boolean = 1,
        Byte = 2,
        Integer = 3,
        Long = 4,
        Currency = 5,
        Single = 6,
        Double = 7,
        DateTime = 8,
        Binary = 9,
        Text = 10,
        OleObject = 11,
        Memo = 12,
        ReplicationId = 15,
        Decimal = 16,
    };
    enum class Outcome : std::uint8_t { Read, Damaged, NoTable };

    struct Column
    {
        std::string name; // UTF-8
        int type = 0;
    };
    struct Field
    {
        bool isNull = true;
        std::string bytes;
    };

    Outcome outcome = Outcome::Damaged;
    // What was found wrong, when the file is damaged.
    std::string detail;
    std::string tableName;
    std::vector<Column> columns;
    std::vector<std::vector<Field>> rows;
};

// Reads the table named tableName (ASCII letters compared without regard to case) from the Jet
// file through libmdb. A file that libmdb cannot make sense of may crash it: call this where a
// crash ends only the reading (see ChildProcess.h).
JetTable readJetTable(const char *path, const char *tableName);

// The table as bytes and back; nullopt for bytes that are not a whole table.
std::string serializeJetTable(const JetTable &table);
std::optional<JetTable> deserializeJetTable(std::string_view bytes);
