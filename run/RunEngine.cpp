#include "run/RunEngine.h"

#include "engine/OutputLog.h"
#include "engine/RunLog.h"
#include "report/DataError.h"
#include "report/Quoting.h"
#include "store/EntryOptions.h"
#include "store/PathName.h"
#include "store/PublicFunction.h"
#include "store/Query.h"
#include "store/ScheduleSql.h"

#include <QDateTime>
#include <QHash>
#include <QRandomGenerator>
#include <QStringList>

#include <array>

using namespace Qt::StringLiterals;

namespace {

// The columns a run reads.
const std::array<const QString *, 4> runColumns = {
    &ScheduleSql::programName, &ScheduleSql::programParameter, &ScheduleSql::programTime,
    &ScheduleSql::programCount};

// A run's own id: 128 random bits, as 32 hexadecimal digits.
QByteArray newRunId()
{
    std::array<quint32, 4> bits {};
    QRandomGenerator::system()->fillRange(bits.data(), bits.size());
    return QByteArray(reinterpret_cast<const char *>(bits.data()), sizeof bits).toHex();
}

QString subject(const QString &entry, const QByteArray &program)
{
    return (entry.isEmpty() ? QString() : u"entry "_s + entry + u' ') + quotedBytes(program);
}

// A record's detail with one more thing to say, on a line of its own.
void addDetail(QString &detail, const QString &more)
{
    if (!more.isEmpty())
        detail += (detail.isEmpty() ? QString() : u"\n"_s) + more;
}

// The longest wait before a program that left early is started again.
constexpr int mostRestartWait = 60;

} // namespace

// Where a run stands in the list, by the keys of the entries: the current one and those before it.
struct RunEngine::Place
{
    bool known = false;
    QString key;
    QStringList preceding;
    // The cursor has moved past the current entry (the run is at the end of the list).
    bool past = false;
};

RunEngine::RunEngine(Query *list, Launcher *launcher, QObject *parent)
    : QObject(parent)
    , m_list(list)
{
    setLauncher(launcher);
}

RunEngine::~RunEngine() = default;

void RunEngine::setLauncher(Launcher *launcher)
{
    m_launcher = launcher;
    m_launcher->setLateCollection(
        [this](qint64 id, const ProcessEnd &end) { collectedLate(id, end); });
    m_launcher->setEndedLater(
        [this](qint64 id, const ProcessEnd &end) { endedWhenAsked(id, end); });
    m_launcher->setEndedByItself([this](qint64 id) {
        if (m_launched == Launched::WithRecord && id == m_runProcess)
            m_leftEarly = true;
    });
}

const RunRecord *RunEngine::currentRun() const
{
    return m_launched == Launched::WithRecord ? &m_run : nullptr;
}

void RunEngine::pause()
{
    if (m_paused || !isRunning())
        return;
    m_paused = true;
    qCInfo(runLog).noquote() << u"paused"_s;
    Q_EMIT pausedChanged(true);
}

void RunEngine::resume()
{
    if (!m_paused)
        return;
    m_paused = false;
    qCInfo(runLog).noquote() << u"resumed"_s;
    Q_EMIT pausedChanged(false);
}

bool RunEngine::next()
{
    if (!isRunning())
        return false;
    if (m_launched == Launched::Ending) {
        m_launcher->endAtOnce(m_endingProcess);
        return true;
    }
    // Waiting to start it again counts as running too.
    if (m_launched == Launched::Nothing && m_restartAt < 0)
        return false;
    closeLaunchedProcess(RunRecord::Ending::Skipped);
    finishRun();
    return true;
}

// The current run is done: the next tick begins the next one.
void RunEngine::finishRun()
{
    m_elapsedTicks = 0;
    ++m_runsDone;
    m_restarts = 0;
    m_restartAt = -1;
    m_leftEarly = false;
}

// The current entry is done with, or left: the run begins again at its first run.
void RunEngine::leaveEntry()
{
    finishRun();
    m_runsDone = 0;
}

void RunEngine::begin()
{
    m_runState = RunState::Running;
    m_reported.clear();
    Q_EMIT runStateChanged(true);
}

void RunEngine::stop()
{
    m_runState = RunState::Stopped;
    leaveEntry();
    if (m_launched == Launched::Ending)
        m_launcher->endAtOnce(m_endingProcess);
    closeLaunchedProcess(RunRecord::Ending::Stopped);
    if (m_paused) {
        m_paused = false;
        Q_EMIT pausedChanged(false);
    }
    if (!m_waiting.isEmpty()) {
        m_waiting.clear();
        Q_EMIT waitingChanged(m_waiting);
    }
    Q_EMIT runStateChanged(false);
}

void RunEngine::closeLaunchedProcess(RunRecord::Ending ending)
{
    // Already asked to end: it goes in its own time.
    if (m_launched == Launched::Ending)
        return;
    if (m_launched != Launched::Nothing) {
        const qint64 process = m_launchInfo.process.id;
        const ProcessEnd end =
            m_launcher->terminate(m_launchInfo.process, m_runOptions.endGrace * 1000);
        if (end.how == ProcessEnd::How::Ending) {
            m_endingProcess = process;
            m_endingRecorded = m_launched == Launched::WithRecord;
            m_endingAs = ending;
            m_launched = Launched::Ending;
            return;
        }
        if (m_launched == Launched::WithRecord)
            endRun(ending, end);
    }
    m_launched = Launched::Nothing;
}

// The program asked to end has gone, or its grace is over: its record says how, and the run goes
// on with the next tick.
void RunEngine::endedWhenAsked(qint64 id, const ProcessEnd &end)
{
    if (m_launched != Launched::Ending || id != m_endingProcess)
        return;
    m_launched = m_endingRecorded ? Launched::WithRecord : Launched::WithoutRecord;
    if (m_launched == Launched::WithRecord)
        endRun(m_endingAs, end);
    m_launched = Launched::Nothing;
    Q_EMIT endingOver();
}

void RunEngine::abandon()
{
    if (m_launched == Launched::Ending)
        m_launcher->endAtOnce(m_endingProcess);
    // Left running, it keeps its log for what it still writes.
    if (m_output)
        m_output->handOver();
    if (m_launched != Launched::WithRecord)
        return;
    ProcessEnd left;
    left.lifetimeMs = QDateTime::currentMSecsSinceEpoch() - m_run.startedMs;
    endRun(RunRecord::Ending::Stopped, left);
}

void RunEngine::endRun(RunRecord::Ending ending, const ProcessEnd &end)
{
    m_launched = Launched::WithoutRecord;
    RunRecord record = m_run;
    record.lifetimeMs = end.lifetimeMs;
    record.ending = ending;
    switch (end.how) {
    case ProcessEnd::How::Exited:
        record.ending = RunRecord::Ending::Exited;
        record.status = end.status;
        break;
    case ProcessEnd::How::Signalled:
        record.ending = RunRecord::Ending::Signal;
        record.status = end.status;
        break;
    case ProcessEnd::How::NotEnded:
        record.ending = RunRecord::Ending::NotEnded;
        addDetail(record.detail, end.detail);
        break;
    case ProcessEnd::How::EndedWhenAsked:
        addDetail(record.detail,
                  end.bySignal ? u"it left when asked, by signal %1"_s.arg(end.status)
                               : u"it left when asked, with status %1"_s.arg(end.status));
        break;
    case ProcessEnd::How::Killed:
        addDetail(record.detail, end.detail);
        break;
    case ProcessEnd::How::None:
    case ProcessEnd::How::Ending:
        break;
    }
    if (m_output) {
        // What it said last on leaving before its time; its output is done once it has gone.
        if (record.ending == RunRecord::Ending::Exited
            || record.ending == RunRecord::Ending::Signal)
            addDetail(record.detail, m_output->errorTail());
        if (end.how != ProcessEnd::How::None && end.how != ProcessEnd::How::NotEnded)
            m_output.reset();
    }
    if (record.ending == RunRecord::Ending::NotEnded)
        m_notEnded.insert(m_runProcess, {m_runTicket, record});
    Q_EMIT runEnded(m_runTicket, record);
}

void RunEngine::collectedLate(qint64 id, const ProcessEnd &end)
{
    const auto found = m_notEnded.constFind(id);
    if (found == m_notEnded.cend())
        return;
    auto [ticket, record] = *found;
    m_notEnded.erase(found);
    record.lifetimeMs = end.lifetimeMs;
    record.collectedMs = QDateTime::currentMSecsSinceEpoch();
    Q_EMIT runUpdated(ticket, record);
}

QString RunEngine::currentKey() const
{
    // Only to name the entry, so a table without the key column still runs.
    if (m_list->fieldIndex(ScheduleSql::programIndex) < 0)
        return QString();
    return m_list->fieldByName(ScheduleSql::programIndex).asString();
}

void RunEngine::launchCurrentEntry()
{
    // The stored bytes, whatever their encoding: a file name on this system is bytes.
    m_launchInfo.file = m_list->fieldByName(ScheduleSql::programName).asBytes();
    m_launchInfo.parameters = m_list->fieldByName(ScheduleSql::programParameter).asBytes();
    m_launchInfo.entry = currentKey();
    const auto stored = m_options.constFind(m_launchInfo.entry);
    m_runOptions = stored != m_options.cend() ? stored->options : EntryOptions();
    m_launchInfo.directory = PathName::toNative(m_runOptions.workingDirectory);
    m_launchInfo.environment.clear();
    for (const QString &line : std::as_const(m_runOptions.environment))
        m_launchInfo.environment.append(line.toUtf8());
    m_launchInfo.ownScope = m_runOptions.ownScope;
    m_launchInfo.memoryMax = m_runOptions.memoryMax;
    m_launchInfo.cpuQuota = m_runOptions.cpuQuota;
    m_launchInfo.runId = newRunId();
    m_run = RunRecord();
    m_run.entry = m_launchInfo.entry;
    m_run.program = m_launchInfo.file;
    m_run.parameters = m_launchInfo.parameters;
    m_run.runId = m_launchInfo.runId;
    m_run.ending = RunRecord::Ending::Running;
    m_run.startedMs = QDateTime::currentMSecsSinceEpoch();
    m_runTicket = ++m_lastTicket;
    // Its record first, so that a program is never left running unrecorded by a runner that dies.
    Q_EMIT runStarting(m_runTicket, m_run);
    // A folder that has gone since the options were saved starts nothing, as a missing file does;
    // so does an output that cannot be kept.
    QString cannot = m_runOptions.folderProblem();
    if (cannot.isEmpty())
        cannot = keepOutput();
    if (cannot.isEmpty()) {
        m_launcher->launch(m_launchInfo);
    } else {
        m_launchInfo.process = {};
        m_launchInfo.failure = cannot;
        qCWarning(runLog).noquote()
            << u"cannot start "_s + subject(m_run.entry, m_run.program) + u": " + cannot;
    }
    if (m_output) {
        m_output->closeChildEnds();
        if (m_launchInfo.process.isEmpty())
            m_output.reset();
        else
            m_output->setProcessId(m_launchInfo.process.id);
    }
    m_run.opener = m_launchInfo.opener;
    m_runProcess = m_launchInfo.process.id;
    if (m_launchInfo.process.isEmpty()) {
        // Nothing to wait for: the run has ended before it began.
        m_run.ending = RunRecord::Ending::NotStarted;
        m_run.detail = m_launchInfo.failure;
        Q_EMIT runEnded(m_runTicket, m_run);
        return;
    }
    m_run.process = m_launchInfo.process.id;
    m_run.processStart = m_launchInfo.startTicks;
    if (m_launchInfo.ownScope)
        tellOfScope();
    Q_EMIT runUpdated(m_runTicket, m_run);
    m_launched = Launched::WithRecord;
}

// Opens the log of the entry's output for this run, where the entry keeps it, and hands it to the
// launch; why it cannot be kept, or "".
QString RunEngine::keepOutput()
{
    m_output.reset();
    m_launchInfo.outputDescriptor = -1;
    m_launchInfo.errorDescriptor = -1;
    if (!m_runOptions.keepOutput)
        return QString();
    QString problem;
    m_output = RunOutput::open(
        OutputLog::pathFor(m_scheduleFile.device, m_scheduleFile.number, m_run.entry),
        {QDateTime::fromMSecsSinceEpoch(m_run.startedMs), m_run.entry, m_run.program}, &problem);
    if (!m_output)
        return u"its output cannot be kept: "_s + problem;
    m_launchInfo.outputDescriptor = m_output->outputDescriptor();
    m_launchInfo.errorDescriptor = m_output->errorDescriptor();
    return QString();
}

// A program that runs without the scope its entry asks for, or without its limits, runs on; its
// record says so, and so is the person told, once in a run.
void RunEngine::tellOfScope()
{
    if (!m_launchInfo.scopeProblem.isEmpty()) {
        addDetail(m_run.detail,
                  u"it runs without a scope of its own: "_s + m_launchInfo.scopeProblem);
        report(tr("条目 %1 的程序没有自己的范围，照常随其进程组结束：%2")
                   .arg(m_run.entry, m_launchInfo.scopeProblem));
    }
    if (!m_launchInfo.limitsNotApplied.isEmpty()) {
        const QString limits = m_launchInfo.limitsNotApplied.join(u", "_s);
        addDetail(m_run.detail, u"not in force in its scope: "_s + limits);
        report(tr("条目 %1 的限制没有生效：%2").arg(m_run.entry, limits));
    }
}

// Why the list cannot be run at all, or "".
QString RunEngine::unusableList() const
{
    if (!m_list->isActive())
        return u"the schedule's list could not be read"_s;
    for (const QString *column : runColumns) {
        if (m_list->fieldIndex(*column) >= 0)
            continue;
        // The data layer's own words for it.
        try {
            m_list->fieldByName(*column);
        } catch (const DatabaseError &error) {
            return error.message();
        }
    }
    return QString();
}

void RunEngine::report(const QString &text)
{
    if (m_reported.contains(text))
        return;
    m_reported.insert(text);
    Q_EMIT problem(text);
}

void RunEngine::waitFor(const QString &why)
{
    if (why == m_waiting)
        return;
    m_waiting = why;
    if (why.isEmpty())
        qCInfo(runLog).noquote() << u"the schedule has entries to run again"_s;
    else
        qCInfo(runLog).noquote() << u"waiting: "_s + why;
    Q_EMIT waitingChanged(why);
}

// An entry whose values cannot be read leaves a record that says why and is passed over, as an
// entry with no runs is, so that one bad entry never holds up the rest.
void RunEngine::passOverEntry(const QString &reason)
{
    closeLaunchedProcess(RunRecord::Ending::Stopped);
    leaveEntry();
    RunRecord record;
    record.entry = currentKey();
    record.program = m_list->fieldByName(ScheduleSql::programName).asBytes();
    record.parameters = m_list->fieldByName(ScheduleSql::programParameter).asBytes();
    record.startedMs = QDateTime::currentMSecsSinceEpoch();
    record.ending = RunRecord::Ending::NotStarted;
    record.detail = reason;
    if (!m_reported.contains(reason)) {
        qCWarning(runLog).noquote()
            << u"cannot start "_s + subject(record.entry, record.program) + u": " + reason;
    }
    Q_EMIT runEnded(++m_lastTicket, record);
    if (!m_list->eof())
        m_list->next();
    report(reason);
}

// One tick of a run. The current entry's columns are read afresh on every tick, so an entry
// changed, reloaded or selected during a run governs it from the next tick on.
void RunEngine::tick()
{
    // A program given its grace to end is waited for: the next run begins once it is gone.
    if (m_runState != RunState::Running || m_paused || m_launched == Launched::Ending)
        return;
    const QString unusable = unusableList();
    if (!unusable.isEmpty() || m_list->recordCount() < 1) {
        if (!unusable.isEmpty() && !m_reported.contains(unusable))
            qCWarning(runLog).noquote() << u"cannot run the schedule: "_s + unusable;
        if (!m_loop) {
            stop();
        } else {
            // Looping: nothing of the schedule can be seen to run, so nothing runs until it can.
            closeLaunchedProcess(RunRecord::Ending::Stopped);
            leaveEntry();
            waitFor(unusable.isEmpty() ? u"the schedule has no entries"_s : unusable);
        }
        if (!unusable.isEmpty())
            report(unusable);
        return;
    }
    waitFor(QString());
    if (m_list->eof()) {
        if (!m_loop) {
            stop();
            Q_EMIT finished();
            return;
        }
        // Looping: this tick goes back to the first entry, as a tick moves on to the next one.
        m_list->first();
        return;
    }
    qint32 count = 0;
    qint32 time = 0;
    try {
        count = m_list->fieldByName(ScheduleSql::programCount).asInteger();
        // Read before anything starts: a value that cannot be read starts nothing.
        if (m_runsDone < count)
            time = m_list->fieldByName(ScheduleSql::programTime).asInteger();
    } catch (const DatabaseError &error) {
        passOverEntry(error.message());
        return;
    }
    m_entryCount = count;
    m_entryTime = time;
    if (m_leftEarly && !actOnEarlyExit())
        return;
    if (m_runsDone < count) {
        if (m_launched == Launched::Nothing && m_restartAt < 0) {
            if (const QString why = optionsProblemOf(currentKey()); !why.isEmpty()) {
                passOverEntry(why);
                return;
            }
        }
        // Started again only within its time, whose end never moves.
        const bool due =
            m_restartAt < 0 || (m_elapsedTicks >= m_restartAt && m_elapsedTicks < time);
        if (m_launched == Launched::Nothing && due) {
            m_restartAt = -1;
            m_launched = Launched::WithoutRecord;
            launchCurrentEntry();
            Q_EMIT runLaunched(m_launchInfo.entry, m_runsDone + 1, count);
        }
        if (m_elapsedTicks < time) {
            ++m_elapsedTicks;
        } else {
            closeLaunchedProcess();
            finishRun();
        }
    } else {
        closeLaunchedProcess();
        leaveEntry();
        if (!m_list->eof())
            m_list->next();
    }
}

// Why the entry with this key cannot be started with its options, or "".
QString RunEngine::optionsProblemOf(const QString &key) const
{
    if (!m_optionsProblem.isEmpty())
        return m_optionsProblem;
    const auto stored = m_options.constFind(key);
    return stored == m_options.cend() || stored->problem.isEmpty()
        ? QString()
        : u"the options of entry %1 cannot be used: %2"_s.arg(key, stored->problem);
}

// The launched program left before its time: it is waited out, started again, followed by the
// next run at once, or the run stops, as its options say. False when the run has stopped.
bool RunEngine::actOnEarlyExit()
{
    m_leftEarly = false;
    const QString name = subject(m_launchInfo.entry, m_launchInfo.file);
    switch (m_runOptions.earlyExit) {
    case EntryOptions::EarlyExit::Wait:
        return true;
    case EntryOptions::EarlyExit::Restart:
        // Once it may start no more, the rest of its time is waited out.
        if (m_restarts >= m_runOptions.maxRestarts) {
            qCInfo(runLog).noquote() << name + u" left early and was started again "
                    + QString::number(m_restarts) + u" times; the rest of its time is waited out";
            return true;
        }
        closeLaunchedProcess();
        ++m_restarts;
        m_restartAt = m_elapsedTicks + qMin(1 << qMin(m_restarts - 1, 6), mostRestartWait);
        qCInfo(runLog).noquote() << name + u" left early; it starts again in "
                + QString::number(m_restartAt - m_elapsedTicks) + u" s ("
                + QString::number(m_restarts) + u" of " + QString::number(m_runOptions.maxRestarts)
                + u')';
        return true;
    case EntryOptions::EarlyExit::Next:
        closeLaunchedProcess();
        finishRun();
        return true;
    case EntryOptions::EarlyExit::Stop:
        break;
    }
    closeLaunchedProcess();
    qCWarning(runLog).noquote() << name + u" left early; the run stops, as its entry asks";
    const QString entry = m_launchInfo.entry;
    stop();
    report(tr("条目 %1 的程序提前退出，按其选项停止运行").arg(entry));
    return false;
}

bool RunEngine::reloadList()
{
    const Place place = isRunning() ? currentPlace() : Place();
    const bool opened = OpenQuery(m_list, ScheduleSql::list, ScheduleSql::openFailed);
    if (!opened)
        return false;
    // The whole list in memory now, so that no tick has to read the file.
    m_list->recordCount();
    readOptions();
    if (place.known)
        restorePlace(place);
    return true;
}

// The entries' options with the list, in memory too. Options that cannot be read at all keep
// every entry from starting, with the reason, rather than letting entries run without them.
void RunEngine::readOptions()
{
    m_options.clear();
    m_optionsProblem.clear();
    try {
        if (m_list->connection())
            m_options = EntryOptionsTable::read(*m_list->connection());
    } catch (const DatabaseError &error) {
        m_optionsProblem = u"the options of the entries cannot be read: "_s + error.message();
    }
}

bool RunEngine::selectEntry(qint64 key)
{
    const int keyColumn = m_list->fieldIndex(ScheduleSql::programIndex);
    if (!m_list->isActive() || keyColumn < 0)
        return false;
    const QString text = QString::number(key);
    const int rows = m_list->recordCount();
    for (int row = 0; row < rows; ++row) {
        if (m_list->text(row, keyColumn) == text) {
            m_list->first();
            m_list->moveBy(row);
            return true;
        }
    }
    return false;
}

RunEngine::Place RunEngine::currentPlace() const
{
    Place place;
    const int keyColumn = m_list->fieldIndex(ScheduleSql::programIndex);
    if (!m_list->isActive() || keyColumn < 0 || m_list->recordCount() < 1)
        return place;
    const int current = m_list->recNo();
    place.known = true;
    place.key = m_list->text(current, keyColumn);
    place.past = m_list->eof();
    for (int row = 0; row < current; ++row)
        place.preceding.append(m_list->text(row, keyColumn));
    return place;
}

void RunEngine::restorePlace(const Place &place)
{
    const int keyColumn = m_list->fieldIndex(ScheduleSql::programIndex);
    const int rows = m_list->recordCount();
    if (keyColumn < 0)
        return;
    QHash<QString, int> rowOfKey;
    rowOfKey.reserve(rows);
    for (int row = 0; row < rows; ++row) {
        const QString key = m_list->text(row, keyColumn);
        if (!rowOfKey.contains(key))
            rowOfKey.insert(key, row);
    }

    int target = 0;
    if (const auto found = rowOfKey.constFind(place.key); found != rowOfKey.cend()) {
        target = place.past ? *found + 1 : *found;
    } else {
        // The running entry is gone: so is its program, and the run goes on with the entry after
        // the last one that was before it, which may be an entry added since.
        closeLaunchedProcess(RunRecord::Ending::Stopped);
        leaveEntry();
        for (auto key = place.preceding.crbegin(); key != place.preceding.crend(); ++key) {
            if (const auto before = rowOfKey.constFind(*key); before != rowOfKey.cend()) {
                target = *before + 1;
                break;
            }
        }
    }
    m_list->first();
    // A move past the last row leaves the cursor there at the end of the list.
    m_list->moveBy(target);
}
