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

QString Field::name() const
{
    return m_query->fieldName(m_column);
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

qint64 Field::asLargeInt() const
{
    const ValueView value = m_query->currentValue(m_column);
    if (const std::optional<qint64> number = value.toLargeInt())
        return *number;
    throw notAnInteger(value.toString(), name());
}

void Field::setAsString(const QString &text)
{
    m_query->checkEditing(m_column);
    StoredValue value = StoredValue::text(text);
    if (m_query->isIntegerColumn(m_column)) {
        if (text.isEmpty())
            value = StoredValue();
        else if (const std::optional<qint32> number = integerFromText(text))
            value = StoredValue::number(*number);
        else
            throw notAnInteger(text, name());
    }
    m_query->setFieldValue(m_column, std::move(value));
}
