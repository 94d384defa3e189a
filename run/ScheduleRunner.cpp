#include "run/ScheduleRunner.h"

#include "run/HistoryRecorder.h"
#include "store/Connection.h"
#include "store/FileIdentity.h"
#include "store/Query.h"

ScheduleRunner::ScheduleRunner(Query *list, QObject *parent)
    : QObject(parent)
    , m_list(list)
    , m_engine(list, &m_processLauncher)
{
    connect(&m_engine, &RunEngine::runStateChanged, this, [this](bool running) {
        if (!running)
            m_lock.release();
    });
}

ScheduleRunner::~ScheduleRunner()
{
    close();
}

void ScheduleRunner::setLauncher(Launcher *launcher)
{
    m_engine.setLauncher(launcher ? launcher : &m_processLauncher);
}

void ScheduleRunner::open(const QString &databasePath)
{
    m_databasePath = databasePath;
    m_history = std::make_unique<HistoryRecorder>(databasePath);
    // A program is started only once its record is written (or cannot be for now).
    connect(&m_engine, &RunEngine::runStarting, m_history.get(), &HistoryRecorder::begin,
            Qt::DirectConnection);
    connect(&m_engine, &RunEngine::runEnded, m_history.get(), &HistoryRecorder::record);
    connect(&m_engine, &RunEngine::runUpdated, m_history.get(), &HistoryRecorder::record);
    m_history->recoverLeftRunning();
    // A list read before the history's first look at the file may miss a change made just then.
    if (m_list->isActive())
        reloadList();
}

void ScheduleRunner::close()
{
    m_history.reset();
    m_lock.release();
}

bool ScheduleRunner::reloadList()
{
    if (m_history) {
        m_history->waitForFirstLook();
        m_changesRead = m_history->changesElsewhere();
    }
    return m_engine.reloadList();
}

std::optional<OtherRunner> ScheduleRunner::begin()
{
    OtherRunner other;
    if (!m_databasePath.isEmpty()
        && m_lock.take(m_databasePath, &other) == ScheduleLock::Result::Held)
        return other;
    // A runner that went since the schedule was opened may have left programs running.
    if (m_history)
        m_history->recoverLeftRunning();
    m_engine.begin();
    followSchedule();
    return std::nullopt;
}

// Reads the list again when another connection changed the file since it was read, keeping the
// run's place; whether it did.
bool ScheduleRunner::followSchedule()
{
    if (!m_history || m_history->changesElsewhere() == m_changesRead)
        return false;
    reloadList();
    return true;
}

// Keeps the lock on the file the schedule's path names now: one that was not there at the start,
// or another put in its place since. False when another runner has it: the run stops then.
bool ScheduleRunner::holdSchedule()
{
    if (m_databasePath.isEmpty()
        || (m_lock.isTaken() && m_lock.file() == FileIdentity::ofPath(m_databasePath)))
        return true;
    OtherRunner other;
    if (m_lock.take(m_databasePath, &other) != ScheduleLock::Result::Held)
        return true;
    m_engine.stop();
    Q_EMIT refused(other);
    return false;
}

void ScheduleRunner::tick()
{
    if (!m_engine.isRunning())
        return;
    followSchedule();
    if (!holdSchedule())
        return;
    m_engine.tick();
}
