#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

class Connection;
class Transaction;

// What an entry needs beyond its five columns, kept in the table QZProgramOption of the schedule's
// file: one row for an entry that has any option. An entry without a row runs as entries always
// have.
struct EntryOptions
{
    // What is done when the program leaves before its time is up.
    enum class EarlyExit {
        // Its time is waited out, as always.
        Wait,
        // It is started again within its time, at most maxRestarts times, waiting 1, 2, 4 … s.
        Restart,
        // The next run (or entry) follows at once.
        Next,
        // The run stops.
        Stop,
    };

    // The folder it starts in; "" for the runner's own.
    QString workingDirectory;
    // NAME=value lines added to (or replacing in) the runner's environment; NAME= empties one.
    QStringList environment;
    // Seconds between the request to end (SIGTERM) and the end (SIGKILL); 0 ends it at once.
    int endGrace = 0;
    EarlyExit earlyExit = EarlyExit::Wait;
    int maxRestarts = 3;
    // Its output kept in a log of the entry's own instead of going where the runner's goes.
    bool keepOutput = false;
    // Run in a scope of its own of the user's service manager, with these limits ("" for none).
    bool ownScope = false;
    QString memoryMax;
    QString cpuQuota;

    static constexpr int mostGrace = 60;
    static constexpr int mostRestarts = 100;

    // Whether these are the options every entry has without a row of its own.
    bool isDefault() const { return *this == EntryOptions(); }
    bool operator==(const EntryOptions &) const = default;

    // The early-exit choice as the table keeps it ("wait", "restart", "next", "stop"), and back.
    static QString earlyExitName(EarlyExit choice);
    static std::optional<EarlyExit> earlyExitFromName(const QString &name);
    // Why these options cannot be used as they are, or "" when they can: a name of the
    // environment that is no name, a line without "=", a grace or a number of restarts out of
    // range, a limit that is not as systemd writes it. Whether the folder is there is the start's
    // question (see folderProblem()).
    QString problem() const;
    // Why the working folder cannot be started in now, or "".
    QString folderProblem() const;

    // NAME=value, NAME a name the shell would take.
    static bool isEnvironmentLine(const QString &line);
    // As systemd writes a memory limit (bytes with K, M, G or T, a share of the memory, or
    // infinity) and a processor quota (a share above 0: 50%, 200%).
    static bool isMemoryLimit(const QString &text);
    static bool isProcessorQuota(const QString &text);
};

// The options of a schedule's entries, as read and written through a connection.
namespace EntryOptionsTable {

// One entry's options as the table holds them: usable, or why not (a value another tool stored
// that cannot be used, such as EarlyExit 'sometimes').
struct Stored
{
    EntryOptions options;
    QString problem;
};

// Every entry's options by the entry's key as the list shows it, read whole; none when the file has
// no table of options yet. Rows whose entry is gone are left out (see removeOrphans()).
QHash<QString, Stored> read(Connection &connection);
// Writes an entry's options (its row goes when they are the default) within the transaction, the
// file first brought up to the version that has the table.
void write(Transaction &transaction, Connection &connection, qint64 key,
           const EntryOptions &options);
// Deletes an entry's options within the transaction of its deletion.
void remove(Transaction &transaction, Connection &connection, qint64 key);
// Deletes the options whose entry another program deleted.
void removeOrphans(Transaction &transaction, Connection &connection);

} // namespace EntryOptionsTable
