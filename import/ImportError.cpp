#include "import/ImportError.h"

ImportError::ImportError(int status, const QString &message)
    : m_status(status)
    , m_message(message)
    , m_utf8(message.toUtf8())
{ }
