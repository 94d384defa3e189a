#pragma once

#include "store/Value.h"

#include <QtGlobal>

#include <deque>
#include <memory>
#include <span>
#include <vector>

// The rows of a query result, kept compactly: each row's values are encoded one after another in
// large blocks of memory, whole numbers in as few bytes as they need and texts as their stored
// bytes, so that a row costs about what it costs in the database file. Rows are only ever added
// at the end; a changed row is encoded again there and its old bytes are left unused.
class RowBuffer final
{
public:
    RowBuffer() = default;
    RowBuffer(RowBuffer &&) noexcept = default;
    RowBuffer &operator=(RowBuffer &&) noexcept = default;
    Q_DISABLE_COPY(RowBuffer)

    qsizetype size() const { return qsizetype(m_rows.size()); }
    bool isEmpty() const { return m_rows.empty(); }

    void append(std::span<const ValueView> values);
    void replace(qsizetype row, std::span<const ValueView> values);
    void remove(qsizetype row);
    // Forgets every row but keeps the memory, so that the next rows of about the same size are
    // written where the last ones were instead of into memory fresh from the system.
    void reuse();
    // Gives back the memory that the rows since reuse() did not need.
    void releaseUnused();
    void clear();

    // A value of a row; the view lives as long as the buffer is neither cleared nor destroyed.
    ValueView value(qsizetype row, int column) const;
    // All values of a row at once, one per column.
    void row(qsizetype row, std::span<ValueView> values) const;
    // Changes whenever the rows change, and differs between any two buffers.
    quint64 revision() const { return m_revision != 0 ? m_revision : newRevision(); }

private:
    char *encode(std::span<const ValueView> values);
    // Where the next row's bytes go, with room for at least `size` of them.
    char *room(qsizetype size);
    // The rows are numbered when the revision is next asked for: a whole result appended row by
    // row takes one number, not one per row.
    void changed() { m_revision = 0; }
    quint64 newRevision() const;

    struct Block
    {
        std::unique_ptr<char[]> bytes;
        qsizetype size = 0;
    };

    std::vector<Block> m_blocks;
    // The block being filled; the ones after it are kept from before reuse().
    size_t m_current = 0;
    char *m_free = nullptr;
    qsizetype m_freeSize = 0;
    // Where each row starts. Kept in small pieces rather than one array: a long result read into
    // an array that doubles as it grows would touch about twice its memory, and copy it.
    std::deque<const char *> m_rows;
    // 0 until revision() numbers the rows as they are.
    mutable quint64 m_revision = 0;
};
