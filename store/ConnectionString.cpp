#include "store/ConnectionString.h"

#include "report/DataError.h"

#include <QList>

#include <utility>

namespace {

QList<std::pair<QString, QString>> items(const QString &text)
{
    QList<std::pair<QString, QString>> items;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype equals = text.indexOf(u'=', i);
        const qsizetype semicolon = text.indexOf(u';', i);
        if (equals < 0)
            break;
        if (semicolon >= 0 && semicolon < equals) {
            i = semicolon + 1;
            continue;
        }
        const QString key = text.mid(i, equals - i).trimmed();
        i = equals + 1;
        while (i < text.size() && text.at(i) == u' ')
            ++i;
        QString value;
        qsizetype end;
        if (i < text.size() && text.at(i) == u'"') {
            qsizetype closing = text.indexOf(u'"', i + 1);
            if (closing < 0)
                closing = text.size();
            value = text.mid(i + 1, closing - i - 1);
            end = text.indexOf(u';', closing);
        } else {
            end = text.indexOf(u';', i);
            value = text.mid(i, end < 0 ? -1 : end - i).trimmed();
        }
        if (!key.isEmpty())
            items.append({key, value});
        i = end < 0 ? text.size() : end + 1;
    }
    return items;
}

} // namespace

namespace ConnectionString {

QString forPath(const QString &databasePath)
{
    const QString source = databasePath.contains(u';') ? u'"' + databasePath + u'"' : databasePath;
    return QStringLiteral("Provider=%1;Data Source=%2;Persist Security Info=False")
        .arg(QLatin1StringView(providerName), source);
}

QString item(const QString &text, const QString &key)
{
    for (const auto &[itemKey, value] : items(text)) {
        if (itemKey.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    }
    return QString();
}

QString databasePath(const QString &text)
{
    const QString provider = item(text, QStringLiteral("Provider"));
    if (provider.compare(QLatin1StringView(providerName), Qt::CaseInsensitive) != 0) {
        throw ProviderError(QStringLiteral("Provider '%1' is not known; the schedule database is "
                                           "opened with the provider '%2'")
                                .arg(provider, QLatin1StringView(providerName)));
    }
    const QString path = item(text, QStringLiteral("Data Source"));
    if (path.isEmpty())
        throw ProviderError(QStringLiteral("The connection string names no Data Source"));
    return path;
}

} // namespace ConnectionString
