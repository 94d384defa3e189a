#include "store/RowBuffer.h"

#include <atomic>
#include <cstring>

namespace {

// Big enough that a block costs one allocation per thousands of rows, small enough that the
// unused end of the last block does not matter.
constexpr qsizetype blockSize = 256 * 1024;

// Each value starts with one of these; whole numbers follow as a variable-length zig-zag number,
// reals as their 8 bytes, texts and blobs as a variable-length size and then the bytes.
enum Tag : char { NullTag, IntegerTag, RealTag, TextTag, BlobTag };

quint64 zigZag(qint64 value)
{
    return (quint64(value) << 1) ^ quint64(value >> 63);
}

qint64 unZigZag(quint64 value)
{
    return qint64(value >> 1) ^ -qint64(value & 1);
}

char *putVarint(char *out, quint64 value)
{
    while (value >= 0x80) {
        *out++ = char(value | 0x80);
        value >>= 7;
    }
    *out++ = char(value);
    return out;
}

const char *getVarint(const char *in, quint64 &value)
{
    value = 0;
    for (int shift = 0;; shift += 7) {
        const auto byte = quint8(*in++);
        value |= quint64(byte & 0x7f) << shift;
        if (!(byte & 0x80))
            return in;
    }
}

// At least the size of a value encoded: its tag, a size or whole number of at most 10 bytes, and
// its bytes.
qsizetype largestEncodedSize(const ValueView &value)
{
    return 1 + 10 + value.bytes.size();
}

// Decodes the value at `in` into `value` (when given) and returns where the next one starts.
const char *decode(const char *in, ValueView *value)
{
    const char tag = *in++;
    quint64 number = 0;
    switch (tag) {
    case NullTag:
        if (value)
            *value = {};
        return in;
    case IntegerTag:
        in = getVarint(in, number);
        if (value)
            *value = {ValueView::Type::Integer, unZigZag(number), 0, {}};
        return in;
    case RealTag:
        if (value) {
            *value = {ValueView::Type::Real, 0, 0, {}};
            std::memcpy(&value->real, in, sizeof(double));
        }
        return in + sizeof(double);
    default:
        in = getVarint(in, number);
        if (value)
            *value = {tag == TextTag ? ValueView::Type::Text : ValueView::Type::Blob, 0, 0,
                      QByteArrayView(in, qsizetype(number))};
        return in + number;
    }
}

} // namespace

void RowBuffer::append(std::span<const ValueView> values)
{
    m_rows.push_back(encode(values));
    changed();
}

void RowBuffer::replace(qsizetype row, std::span<const ValueView> values)
{
    m_rows[size_t(row)] = encode(values);
    changed();
}

void RowBuffer::remove(qsizetype row)
{
    m_rows.erase(m_rows.begin() + row);
    changed();
}

quint64 RowBuffer::newRevision() const
{
    static std::atomic<quint64> revisions = 0;
    m_revision = ++revisions;
    return m_revision;
}

void RowBuffer::reuse()
{
    m_rows.clear();
    m_current = 0;
    m_free = m_blocks.empty() ? nullptr : m_blocks.front().bytes.get();
    m_freeSize = m_blocks.empty() ? 0 : m_blocks.front().size;
    changed();
}

void RowBuffer::releaseUnused()
{
    if (m_current + 1 < m_blocks.size())
        m_blocks.erase(m_blocks.begin() + qsizetype(m_current) + 1, m_blocks.end());
    m_rows.shrink_to_fit();
}

void RowBuffer::clear()
{
    // Gives the memory back, not only the rows.
    std::deque<const char *>().swap(m_rows);
    std::vector<Block>().swap(m_blocks);
    m_current = 0;
    m_free = nullptr;
    m_freeSize = 0;
    changed();
}

ValueView RowBuffer::value(qsizetype row, int column) const
{
    const char *in = m_rows[size_t(row)];
    for (int i = 0; i < column; ++i)
        in = decode(in, nullptr);
    ValueView value;
    decode(in, &value);
    return value;
}

void RowBuffer::row(qsizetype row, std::span<ValueView> values) const
{
    const char *in = m_rows[size_t(row)];
    for (ValueView &value : values)
        in = decode(in, &value);
}

char *RowBuffer::encode(std::span<const ValueView> values)
{
    qsizetype largest = 0;
    for (const ValueView &value : values)
        largest += largestEncodedSize(value);
    char *const row = room(largest);
    char *out = row;
    for (const ValueView &value : values) {
        switch (value.type) {
        case ValueView::Type::Null:
            *out++ = NullTag;
            break;
        case ValueView::Type::Integer:
            *out++ = IntegerTag;
            out = putVarint(out, zigZag(value.integer));
            break;
        case ValueView::Type::Real:
            *out++ = RealTag;
            std::memcpy(out, &value.real, sizeof(double));
            out += sizeof(double);
            break;
        case ValueView::Type::Text:
        case ValueView::Type::Blob:
            *out++ = value.type == ValueView::Type::Text ? TextTag : BlobTag;
            out = putVarint(out, quint64(value.bytes.size()));
            if (!value.bytes.isEmpty())
                std::memcpy(out, value.bytes.data(), size_t(value.bytes.size()));
            out += value.bytes.size();
            break;
        }
    }
    m_free = out;
    m_freeSize -= out - row;
    return row;
}

char *RowBuffer::room(qsizetype size)
{
    if (size > m_freeSize) {
        // The next kept block, or a new one; a row larger than a block gets a block of its own.
        const size_t next = m_free ? m_current + 1 : 0;
        if (next < m_blocks.size() && m_blocks[next].size >= size) {
            m_current = next;
        } else {
            const qsizetype allocated = qMax(size, blockSize);
            Block block {std::make_unique_for_overwrite<char[]>(size_t(allocated)), allocated};
            m_current = qMin(next, m_blocks.size());
            m_blocks.insert(m_blocks.begin() + qsizetype(m_current), std::move(block));
        }
        m_free = m_blocks[m_current].bytes.get();
        m_freeSize = m_blocks[m_current].size;
    }
    return m_free;
}
