#pragma once

#include <QJsonArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Jet database files made at test time by the fixture writer make_jet.py beside this file, which
// takes the shape of the file from its arguments (see its --help). Returns the rows the file
// holds, as the writer's JSON, or nullopt when the writer failed (its output is then logged).
std::optional<QJsonArray> writeJetFile(const QString &path, const QStringList &arguments = {});

// The rows as TestDatabase::storedRows() reads them back from a schedule: JSON numbers as
// integers, strings as UTF-8 texts, null as NULL.
QList<QStringList> storedForm(const QJsonArray &rows);
