#include "report/ReportText.h"

#include "report/DataError.h"

#include <QCoreApplication>

#include <typeinfo>

QString shownText(const QString &text)
{
    return QCoreApplication::translate("Messages", text.toUtf8().constData());
}

QString errorMessage(const std::exception &error)
{
    const auto *databaseError = dynamic_cast<const DatabaseError *>(&error);
    return databaseError ? shownText(databaseError->message()) : QString::fromUtf8(error.what());
}

QString withFinalPeriod(const QString &text)
{
    if (!text.isEmpty() && text.back() > u'.')
        return text + u'.';
    return text;
}

QString errorReportText(const std::exception &error)
{
    QString message = errorMessage(error);
    if (dynamic_cast<const ProviderError *>(&error)) {
        qsizetype end = message.size();
        while (end > 0 && (message.at(end - 1) <= u' ' || message.at(end - 1) == u'.'))
            --end;
        message.truncate(end);
    }
    return withFinalPeriod(message);
}

QString errorKindName(const std::exception &error)
{
    if (const auto *databaseError = dynamic_cast<const DatabaseError *>(&error))
        return QString::fromLatin1(databaseError->kindName());
    return QString::fromLatin1(typeid(error).name());
}
