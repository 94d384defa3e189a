// Writes run records into a schedule's history as the program does, with the history at its
// limit, and plain INSERTs of the same values through the sqlite3 C API on the same file, turn
// about: vantrel_bench_history DATABASE TURNS. Prints the median of each in µs.
#include "run/RunHistory.h"
#include "store/Connection.h"
#include "store/ShareDM.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <sqlite3.h>
#include <vector>

namespace {

[[noreturn]] void fail(const char *text)
{
    std::fprintf(stderr, "vantrel_bench_history: %s\n", text);
    std::exit(1);
}

long long median(std::vector<long long> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void exec(sqlite3 *db, const char *sql)
{
    if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK)
        fail(sqlite3_errmsg(db));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 3)
        fail("usage: vantrel_bench_history DATABASE TURNS");
    const int turns = std::atoi(argv[2]);
    Connection connection(QString::fromLocal8Bit(argv[1]));
    RunRecord record;
    record.entry = QStringLiteral("17");
    record.program = "/usr/bin/program-17";
    record.parameters = "--option value-17 --verbose";
    record.startedMs = 1796723454573;
    record.lifetimeMs = 5001;
    RunHistory::append(connection, record);

    sqlite3 *db = nullptr;
    if (sqlite3_open_v2(argv[1], &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
        fail("cannot open the database");
    // The history at its limit, so that every record written makes the oldest go.
    exec(db,
         "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 10000) "
         "INSERT INTO QZRunLog (ProgramIndex, ProgramName, ProgramParameter, Started, "
         "Lifetime, Ending) SELECT 17, '/usr/bin/program-17', '--option value-17 --verbose', "
         "1796723454573, 5001, 'at-time' FROM n");

    std::vector<long long> appends;
    std::vector<long long> inserts;
    QElapsedTimer clock;
    for (int turn = 0; turn < turns; ++turn) {
        clock.start();
        RunHistory::append(connection, record);
        appends.push_back(clock.nsecsElapsed() / 1000);

        clock.start();
        sqlite3_stmt *insert = nullptr;
        if (sqlite3_prepare_v2(db,
                               "INSERT INTO QZRunLog (ProgramIndex, ProgramName, "
                               "ProgramParameter, Started, Lifetime, Ending) "
                               "VALUES (?, ?, ?, ?, ?, ?)",
                               -1, &insert, nullptr)
            != SQLITE_OK)
            fail(sqlite3_errmsg(db));
        sqlite3_bind_int64(insert, 1, 17);
        sqlite3_bind_text(insert, 2, "/usr/bin/program-17", -1, SQLITE_STATIC);
        sqlite3_bind_text(insert, 3, "--option value-17 --verbose", -1, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 4, 1796723454573);
        sqlite3_bind_int64(insert, 5, 5001);
        sqlite3_bind_text(insert, 6, "at-time", -1, SQLITE_STATIC);
        if (sqlite3_step(insert) != SQLITE_DONE)
            fail(sqlite3_errmsg(db));
        sqlite3_finalize(insert);
        inserts.push_back(clock.nsecsElapsed() / 1000);
    }
    sqlite3_close(db);
    std::printf("%lld %lld\n", median(appends), median(inserts));
    return 0;
}
