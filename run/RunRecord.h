#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// One run of an entry's program (one start), from the moment it is about to start to its end.
struct RunRecord
{
    enum class Ending {
        AtTime,
        Exited,
        Signal,
        NotStarted,
        NotEnded,
        Stopped,
        // Started and not ended yet; the record is written so before the program starts.
        Running,
        // Left running by a runner that ended without ending it (killed, crashed, a power cut).
        Interrupted,
        // Ended before its time because someone asked for the next run.
        Skipped,
    };
    // How much a run stands out when a person looks over the history.
    enum class Mark { None, Early, Failed };

    // The record's number in the history; 0 until it is written.
    qint64 id = 0;
    // The entry's 程序编号 as the list showed it, "" when the table has none.
    QString entry;
    // The program and its parameters as started: the stored bytes.
    QByteArray program;
    QByteArray parameters;
    // The desktop's opener a document or URL went to, "" when the program was started itself.
    QByteArray opener;
    // When it started (UTC, milliseconds since 1970) and how long it lived.
    qint64 startedMs = 0;
    qint64 lifetimeMs = 0;
    Ending ending = Ending::AtTime;
    // The exit status (Exited) or the signal (Signal).
    std::optional<int> status;
    // Why it could not be started or ended, or what was left of an interrupted run.
    QString detail;
    // When a program that could not be ended was collected at last (UTC, milliseconds).
    std::optional<qint64> collectedMs;
    // The run's own id, which its program finds in its environment; its process id and start time
    // once it has started. They find what is left of a run whose runner is gone.
    QByteArray runId;
    qint64 process = 0;
    qint64 processStart = 0;

    bool operator==(const RunRecord &) const = default;

    // Whether nothing more will become known of the run.
    bool isFinal() const;
    // Whether the run is still going on or left something behind, so that its record may change.
    bool mayChange() const { return !isFinal(); }
    // Whether its lifetime is known: not while it runs, nor for a run interrupted.
    bool hasLifetime() const;
};

// Each ending's name for scripts, its words on the command line, its words in the window and
// its mark, from one table.
namespace RunEndings {

// "at-time", "exited", …: the name the history's table, CSV and JSON use.
QString name(RunRecord::Ending ending);
std::optional<RunRecord::Ending> fromName(const QString &name);
// How the run ended, in a few words: "ended at its time", "exited with status 3", …
QString words(const RunRecord &record);
// The same as the window says it: "按时结束", "自行退出，退出状态 3", …, with the reason.
QString text(const RunRecord &record);
RunRecord::Mark mark(const RunRecord &record);

} // namespace RunEndings
