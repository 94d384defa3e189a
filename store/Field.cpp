#include "store/Field.h"

#include "report/DataError.h"
#include "store/IntegerText.h"
#include "store/Query.h"

namespace {

DatabaseError notAnInteger(const QString &text, const QString &field)
{
    return DatabaseError(
        QStringLiteral("'%1' is not a valid integer value for field '%2'").arg(text, field));
}

} // namespace

const QString &Field::name() const
{
    return m_query->m_columns.at(size_t(m_column)).name;
}

bool Field::isNull() const
{
    return m_query->currentValue(m_column).isNull();
}

QString Field::asString() const
{
    return m_query->currentValue(m_column).toString();
}

QByteArray Field::asBytes() const
{
    return m_query->currentValue(m_column).toBytes();
}

qint32 Field::asInteger() const
{
    const ValueView value = m_query->currentValue(m_column);
    if (const std::optional<qint32> number = value.toInteger())
        return *number;
    throw notAnInteger(value.toString(), name());
}

void Field::setAsString(const QString &text)
{
    m_query->checkEditing(*this);
    StoredValue value = StoredValue::text(text);
    if (m_query->m_columns.at(size_t(m_column)).isInteger) {
        if (text.isEmpty())
            value = StoredValue();
        else if (const std::optional<qint32> number = integerFromText(text))
            value = StoredValue::number(*number);
        else
            throw notAnInteger(text, name());
    }
    m_query->m_buffer[size_t(m_column)] = std::move(value);
    m_query->m_modified[size_t(m_column)] = true;
}
