#pragma once

#include "engine/Launcher.h"
#include "run/RunRecord.h"
#include "store/EntryOptions.h"
#include "store/FileIdentity.h"

#include <QHash>
#include <QSet>

#include <memory>
#include <utility>

#include <QObject>
#include <QString>

class Query;
class RunOutput;

// The run rules: on each tick, walks the schedule list from its current entry, starts each
// entry's program, counts its seconds, ends it, repeats it the entry's count of times, moves on,
// and stops by itself after the last entry (or, looping, begins again at the first, and waits for
// entries while there are none). The list query is the cursor over the schedule; the launcher
// starts and ends the programs. Everything the tick needs is in the list's rows in memory, so a
// busy database file never holds it up.
class RunEngine final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(RunEngine)

public:
    // Whether the engine runs.
    enum class RunState { Stopped, Running };
    Q_ENUM(RunState)
    // Whether a launched program is taken to be running: from the tick that launches it, even
    // when it could not be started, until it is ended.
    enum class ProcessState { Closed, Open };
    Q_ENUM(ProcessState)

    RunEngine(Query *list, Launcher *launcher, QObject *parent = nullptr);
    ~RunEngine() override;

    Query *list() const { return m_list; }
    void setLauncher(Launcher *launcher);
    // After the last entry, begin again at the first until stopped; with no entries to run,
    // wait for some instead of stopping.
    void setLoop(bool loop) { m_loop = loop; }
    bool loops() const { return m_loop; }
    // The schedule's file, which names the logs of its entries' output.
    void setScheduleFile(const FileIdentity &file) { m_scheduleFile = file; }

    // The run state, the latest launch, ticks of the current run, finished runs of the current
    // entry and the process state.
    RunState runState() const { return m_runState; }
    const ::LaunchInfo &launchInfo() const { return m_launchInfo; }
    qint32 elapsedTicks() const { return m_elapsedTicks; }
    qint32 runsDone() const { return m_runsDone; }
    ProcessState processState() const
    {
        return m_launched == Launched::Nothing ? ProcessState::Closed : ProcessState::Open;
    }
    // Whether a program asked to end is given its grace to go: the next run waits for it.
    bool isEnding() const { return m_launched == Launched::Ending; }
    bool isRunning() const { return m_runState == RunState::Running; }
    // Why a looping run waits for entries, or "" while it does not.
    const QString &waitingFor() const { return m_waiting; }
    bool isPaused() const { return m_paused; }
    // The current entry's run time and count of runs as the latest tick read them.
    qint32 entryTime() const { return m_entryTime; }
    qint32 entryCount() const { return m_entryCount; }
    // The record of the run whose program is open, while one is.
    const RunRecord *currentRun() const;

    // Begins the run at the current entry; the next tick launches it.
    void begin();
    // Stops the run, zeroes the counters and ends the launched program, with the grace its entry
    // gives it; stopped again while the program is given its grace, ends it at once.
    void stop();
    // Ends the launched program, or asks it to end when its entry gives it a grace; the run's
    // record says it ended as given when it was still running then.
    void closeLaunchedProcess(RunRecord::Ending ending = RunRecord::Ending::AtTime);
    void tick();
    // The run ends without its program being ended, as when the window closes: the record says
    // it was stopped. A program already asked to end is ended at once.
    void abandon();
    // The current entry's clock stops, and goes on; the program keeps running meanwhile. Nothing
    // keeps a pause but the engine: a run begins unpaused.
    void pause();
    void resume();
    // Ends the current program now, with its group, and counts its run as done, as at its time;
    // its record says it was skipped. A program given its grace to end is ended at once. False
    // when no program runs.
    bool next();

    // Reloads the list. During a run the cursor stays on the current entry, found by its key,
    // with its counters and its program; when that entry is gone, its program is ended and the
    // run goes on with the entry that followed it. Outside a run the first entry is current.
    bool reloadList();
    // Makes the entry with this key (its 程序编号) the current one; false when there is none.
    bool selectEntry(qint64 key);
    // The options of the entries that have any, by key as the list shows it, as read with the
    // list; and why they could not be read at all, or "".
    const QHash<QString, EntryOptionsTable::Stored> &options() const { return m_options; }
    const QString &optionsProblem() const { return m_optionsProblem; }

Q_SIGNALS:
    void runStateChanged(bool running);
    // The run went past its last entry and stopped by itself, without looping; after the
    // runStateChanged(false) of that stop.
    void finished();
    // A looping run began or stopped waiting for entries it can run: why, or "" once it goes on.
    void waitingChanged(const QString &why);
    void pausedChanged(bool paused);
    // A program is about to be started: the record of its run, which says it is running. A
    // ticket names the run in what follows of it.
    void runStarting(quint64 ticket, const RunRecord &record);
    // A program was launched for the current entry: its key (the entry's 程序编号 as text), the
    // run it is (from 1) and the entry's count of runs.
    void runLaunched(const QString &entry, int run, int count);
    // A run has ended (its program could not start, was ended, or had ended by itself, or its
    // entry could not be read): its record.
    void runEnded(quint64 ticket, const RunRecord &record);
    // What became known of a run later: its program's process once started, or a program that
    // could not be ended was collected.
    void runUpdated(quint64 ticket, const RunRecord &record);
    // What the person should be told, once in a run: an entry passed over because its values
    // cannot be read, a list that cannot be run, a run stopped because a program left early.
    void problem(const QString &text);
    // A program asked to end has gone, or was killed once its grace was over.
    void endingOver();

private:
    // The launched program as the engine keeps it: the process state, and while it is open
    // whether its run's record is open too. It is not when the launch started nothing, nor once
    // the run was abandoned.
    // Ending: asked to end and given its grace, its record (if open) waiting to say how it went.
    enum class Launched { Nothing, WithoutRecord, WithRecord, Ending };

    struct Place;
    Place currentPlace() const;
    void restorePlace(const Place &place);
    void launchCurrentEntry();
    QString currentKey() const;
    QString unusableList() const;
    void readOptions();
    void waitFor(const QString &why);
    void passOverEntry(const QString &reason);
    void report(const QString &text);
    void endRun(RunRecord::Ending ending, const ProcessEnd &end);
    void collectedLate(qint64 id, const ProcessEnd &end);
    void endedWhenAsked(qint64 id, const ProcessEnd &end);
    QString optionsProblemOf(const QString &key) const;
    bool actOnEarlyExit();
    void finishRun();
    void leaveEntry();
    QString keepOutput();
    void tellOfScope();

    Query *m_list;
    Launcher *m_launcher = nullptr;
    FileIdentity m_scheduleFile;
    // The output of the launched program, while its entry keeps it.
    std::unique_ptr<RunOutput> m_output;
    bool m_loop = false;
    RunState m_runState = RunState::Stopped;
    ::LaunchInfo m_launchInfo;
    qint32 m_elapsedTicks = 0;
    qint32 m_runsDone = 0;
    Launched m_launched = Launched::Nothing;
    QString m_waiting;
    bool m_paused = false;
    qint32 m_entryTime = 0;
    qint32 m_entryCount = 0;
    // The record of the latest run, open while m_launched says so, and its ticket.
    RunRecord m_run;
    quint64 m_runTicket = 0;
    qint64 m_runProcess = 0;
    quint64 m_lastTicket = 0;
    // The runs whose programs could not be ended, by their process ids, until they are collected.
    QHash<qint64, std::pair<quint64, RunRecord>> m_notEnded;
    // What the person was told in this run.
    QSet<QString> m_reported;
    QHash<QString, EntryOptionsTable::Stored> m_options;
    QString m_optionsProblem;
    // The options of the launched program's entry, as they were when it started.
    EntryOptions m_runOptions;
    // The launched program left before its time; the next tick does what its options say.
    bool m_leftEarly = false;
    // Starts again in the current run, and the elapsed tick at which the next one is due (-1:
    // none).
    int m_restarts = 0;
    qint32 m_restartAt = -1;
    // While Ending: the process asked to end, whether its record is open, and what it says then.
    qint64 m_endingProcess = 0;
    bool m_endingRecorded = false;
    RunRecord::Ending m_endingAs = RunRecord::Ending::AtTime;
};
