#include "run/ScheduleRunner.h"

#include "engine/ProcessTable.h"
#include "engine/RunLog.h"
#include "run/HistoryFormat.h"
#include "run/HistoryRecorder.h"
#include "store/Connection.h"
#include "store/FileIdentity.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"

#include <QDateTime>
#include <QJsonValue>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString userName()
{
    const passwd *user = ::getpwuid(::geteuid());
    return user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
}

QJsonValue optionalText(const QString &text)
{
    return text.isEmpty() ? QJsonValue() : QJsonValue(text);
}

} // namespace

ScheduleRunner::ScheduleRunner(Query *list, QObject *parent)
    : QObject(parent)
    , m_list(list)
    , m_engine(list, &m_processLauncher)
    , m_commands([this](const QJsonObject &request) { return command(request); })
{
    connect(&m_engine, &RunEngine::runStateChanged, this, [this](bool running) {
        if (!running) {
            m_commands.close();
            m_lock.release();
        }
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
    m_sinceMs = QDateTime::currentMSecsSinceEpoch();
    m_engine.setScheduleFile(scheduleFile());
    m_engine.begin();
    followSchedule();
    listenForCommands();
    return std::nullopt;
}

// The schedule's file as the run holds it, which names its socket and its entries' logs.
FileIdentity ScheduleRunner::scheduleFile() const
{
    return m_lock.isTaken() ? m_lock.file() : FileIdentity::ofPath(m_databasePath);
}

// The schedule's socket for commands from outside, while the run goes on. A run that cannot have
// one goes on all the same, and says so once.
void ScheduleRunner::listenForCommands()
{
    const FileIdentity file = scheduleFile();
    if (m_databasePath.isEmpty() || !file.exists || m_commands.isListening())
        return;
    QString problem;
    const QString path =
        ControlChannel::socketPath(file, ControlChannel::Listener::Runner, &problem);
    if (!path.isEmpty() && m_commands.listen(path, &problem))
        return;
    if (!m_saidNoCommands) {
        qCWarning(runLog).noquote()
            << u"the run takes no commands from outside: "_s + problem + u"; it goes on";
        m_saidNoCommands = true;
    }
}

QJsonObject ScheduleRunner::status() const
{
    const char16_t *kinds[] = {u"window", u"headless", u"service"};
    QJsonObject status {
        {u"ok"_s, true},
        {u"runner"_s, QString::fromUtf16(kinds[int(m_kind)])},
        {u"pid"_s, ProcessTable::self().pid},
        {u"user"_s, userName()},
        {u"schedule"_s, m_databasePath},
        {u"since"_s, HistoryFormat::startedUtc(m_sinceMs)},
        {u"loop"_s, m_engine.loops()},
        {u"paused"_s, m_engine.isPaused()},
        {u"waiting"_s, optionalText(m_engine.waitingFor())},
    };
    const Query &list = *m_list;
    const bool onEntry =
        list.isActive() && list.recordCount() > 0 && !list.eof() && m_engine.waitingFor().isEmpty();
    if (onEntry) {
        const auto column = [&](const QString &name) {
            const int index = list.fieldIndex(name);
            return index < 0 ? QString() : list.text(list.recNo(), index);
        };
        status.insert(u"entry"_s, optionalText(column(ScheduleSql::programIndex)));
        status.insert(u"program"_s, column(ScheduleSql::programName));
        status.insert(u"parameters"_s, column(ScheduleSql::programParameter));
        status.insert(u"run"_s, qMin(m_engine.runsDone() + 1, qMax(m_engine.entryCount(), 1)));
        status.insert(u"runs"_s, m_engine.entryCount());
    }
    if (const RunRecord *run = m_engine.currentRun()) {
        status.insert(u"programPid"_s, run->process);
        status.insert(u"secondsLeft"_s, qMax(0, m_engine.entryTime() - m_engine.elapsedTicks()));
    }
    return status;
}

QJsonObject ScheduleRunner::command(const QJsonObject &request)
{
    const QString name = request.value(u"command"_s).toString();
    const auto done = [](const QString &message) {
        return QJsonObject {{u"ok"_s, true}, {u"message"_s, message}};
    };
    if (name == u"status")
        return status();
    if (!m_engine.isRunning())
        return done(u"the run has ended; nothing was done"_s);
    if (name == u"next") {
        return m_engine.next() ? done(u"ended the running program early; the run goes on"_s)
                               : done(u"no program runs now; nothing was skipped"_s);
    }
    if (name == u"pause") {
        if (m_engine.isPaused())
            return done(u"the run was paused already"_s);
        m_engine.pause();
        return done(u"paused the run; its program runs on"_s);
    }
    if (name == u"resume") {
        if (!m_engine.isPaused())
            return done(u"the run was not paused; nothing was done"_s);
        m_engine.resume();
        return done(u"resumed the run"_s);
    }
    if (name == u"stop") {
        m_engine.stop();
        return done(u"stopped the run"_s);
    }
    return {{u"ok"_s, false}, {u"error"_s, u"'%1' is no command a runner knows"_s.arg(name)}};
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
