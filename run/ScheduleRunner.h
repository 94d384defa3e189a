#pragma once

#include "engine/ProcessLauncher.h"
#include "run/ControlChannel.h"
#include "run/RunEngine.h"
#include "store/ScheduleLock.h"

#include <QJsonObject>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>

class HistoryRecorder;
class Query;

// The one owner of a schedule's run, for the window and the run without a window alike: the run
// rules over the list, the launcher, the history, the lock that lets one runner at a time run a
// schedule, the schedule followed as other programs change it, and the commands from outside
// (status, next, pause, resume, stop) answered on the schedule's socket while it runs.
class ScheduleRunner final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ScheduleRunner)

public:
    // Who runs the schedule, as the status says it.
    enum class Kind { Window, Headless, Service };

    // The list is the schedule's list query: the window's, or one of the run's own.
    explicit ScheduleRunner(Query *list, QObject *parent = nullptr);
    ~ScheduleRunner() override;

    RunEngine &engine() { return m_engine; }
    const RunEngine &engine() const { return m_engine; }
    // The run's history, once the schedule is open.
    HistoryRecorder *history() const { return m_history.get(); }
    // Starts and ends the entries' programs; nullptr puts the real launcher back.
    void setLauncher(Launcher *launcher);
    void setLoop(bool loop) { m_engine.setLoop(loop); }
    void setKind(Kind kind) { m_kind = kind; }

    // Opens the schedule for running: its history, and the end of what runners that are gone left
    // running. Before the list is first read, so that every later change to the file is seen.
    void open(const QString &databasePath);
    // The history written out (for a short while at most) and the runner's part in the file
    // ended: as the program ends. A run still going on is left as abandon() leaves it.
    void close();

    // Reloads the list, keeping a run's place (see RunEngine::reloadList).
    bool reloadList();
    bool selectEntry(qint64 key) { return m_engine.selectEntry(key); }

    // Begins the run at the current entry with the schedule as it is now. When another runner
    // runs the schedule, nothing changes and the answer says who it is.
    std::optional<OtherRunner> begin();
    void stop() { m_engine.stop(); }
    // One tick: the schedule read again if another program changed it, then the run's rules.
    void tick();
    void abandon() { m_engine.abandon(); }

    // How the run stands, as a command from outside is told: who runs it, since when, the entry,
    // run k of n, seconds left, the program's process.
    QJsonObject status() const;
    // Answers one command from outside: "status", "next", "pause", "resume" or "stop".
    QJsonObject command(const QJsonObject &request);

Q_SIGNALS:
    // Another runner took the schedule's file while this run could not hold it (the file was
    // replaced or missing at the start): the run was stopped.
    void refused(const OtherRunner &other);

private:
    bool followSchedule();
    bool holdSchedule();
    FileIdentity scheduleFile() const;
    void listenForCommands();

    Query *m_list;
    QString m_databasePath;
    ProcessLauncher m_processLauncher;
    RunEngine m_engine;
    // Declared before the history, so that it goes after the history's connection has closed.
    ScheduleLock m_lock;
    std::unique_ptr<HistoryRecorder> m_history;
    quint64 m_changesRead = 0;
    Kind m_kind = Kind::Window;
    qint64 m_sinceMs = 0;
    ControlServer m_commands;
    bool m_saidNoCommands = false;
};
