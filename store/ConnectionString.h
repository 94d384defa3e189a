#pragma once

#include <QString>

// The text that names the schedule's database as the shared data module describes its
// connection: "Provider=SQLite3;Data Source=…;Persist Security Info=False". Everything else names
// a schedule by its path.
namespace ConnectionString {

inline constexpr auto providerName = "SQLite3";

// The text for a database file; a path holding ";" is quoted so that it stays one item.
QString forPath(const QString &databasePath);
// The value of one item ("" when absent); keys ignore case. Items are "key=value" separated by
// ";"; a value may be enclosed in double quotes to hold ";".
QString item(const QString &text, const QString &key);
// The database file the text names. Throws ProviderError for another provider or no data source.
QString databasePath(const QString &text);

} // namespace ConnectionString
