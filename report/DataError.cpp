#include "report/DataError.h"

DatabaseError::DatabaseError(const QString &message)
    : m_message(message)
    , m_utf8(message.toUtf8())
{ }
