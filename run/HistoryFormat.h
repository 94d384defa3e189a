#pragma once

#include "run/RunRecord.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <vector>

// The forms a person or a script reads the run history in: an aligned table, CSV and JSON with
// the same fields in the same order (entry, program, parameters, started, seconds, ended, status,
// detail).
namespace HistoryFormat {

// The bytes as text: UTF-8 stays as it is, each byte that is not part of valid UTF-8 is written
// as \xHH.
QString bytesAsText(QByteArrayView bytes);
// ISO 8601 in UTC with milliseconds, "2026-12-08T09:30:00.125Z".
QString startedUtc(qint64 milliseconds);
// The local time a person reads, "2026-12-08 10:30:00".
QString startedLocal(qint64 milliseconds);
// Seconds with milliseconds, "2.003".
QString seconds(qint64 milliseconds);
// Why a run could not start or be ended, or what was left of one interrupted, with when it was
// collected at last; "" for the others.
QString detail(const RunRecord &record);

QString csvHeader();
QString csvLine(const RunRecord &record);
QString jsonLine(const RunRecord &record);
// The records as a table with a title line, its columns aligned, one run per line.
QStringList table(const std::vector<RunRecord> &records);

} // namespace HistoryFormat
