#include "engine/ProcessLauncher.h"

#include "engine/LaunchCommand.h"
#include "engine/ProcessTable.h"
#include "engine/RunLog.h"
#include "engine/SessionSpawn.h"
#include "engine/UserScope.h"
#include "report/Quoting.h"

#include <QScopeGuard>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// The collector looks soon after a kill, when the program is about to go, then less and less
// often for one whose kill was refused and that may run for hours.
constexpr int firstCollectMs = 10;
constexpr int slowestCollectMs = 1000;

// Wakes the event loop when a program has ended: a process descriptor becomes readable then.
class ExitWatch final : public QSocketNotifier
{
public:
    explicit ExitWatch(int descriptor)
        : QSocketNotifier(descriptor, QSocketNotifier::Read)
    { }
    ~ExitWatch() override { ::close(int(socket())); }
    Q_DISABLE_COPY_MOVE(ExitWatch)
};

QString subject(const QString &entry, const QByteArray &file)
{
    return (entry.isEmpty() ? QString() : u"entry "_s + entry + u' ') + quotedBytes(file);
}

void complain(LaunchInfo &info, const QString &reason)
{
    info.failure = reason;
    qCWarning(runLog).noquote() << u"cannot start "_s + subject(info.entry, info.file) + u": "
            + reason;
}

QString errorText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString seconds(const QElapsedTimer &clock)
{
    return QString::number(double(clock.elapsed()) / 1000.0, 'f', 1) + u" s";
}

QString howItEnded(const siginfo_t &state)
{
    if (state.si_code == CLD_EXITED)
        return u"exited with status "_s + QString::number(state.si_status);
    return u"ended by signal "_s + QString::number(state.si_status) + u" ("
        + QString::fromLocal8Bit(::strsignal(state.si_status)) + u')';
}

enum class Leader { running, ended, lost };

// Whether a child has ended, leaving it uncollected: a process that has ended keeps its id, and
// with it its group's, until it is collected.
Leader lookAt(pid_t pid, siginfo_t &state)
{
    state = {};
    while (::waitid(P_PID, static_cast<id_t>(pid), &state, WEXITED | WNOHANG | WNOWAIT) != 0) {
        // Collected by someone else: the id is no longer ours either way.
        if (errno != EINTR)
            return Leader::lost;
    }
    return state.si_pid == pid ? Leader::ended : Leader::running;
}

void collect(pid_t pid)
{
    siginfo_t state {};
    while (::waitid(P_PID, static_cast<id_t>(pid), &state, WEXITED | WNOHANG) != 0
           && errno == EINTR) { }
}

ProcessEnd endOf(const siginfo_t &state)
{
    ProcessEnd end;
    end.how = state.si_code == CLD_EXITED ? ProcessEnd::How::Exited : ProcessEnd::How::Signalled;
    end.status = state.si_status;
    return end;
}

// Gone, or ended and only waiting to be collected by its parent.
bool hasEnded(pid_t pid)
{
    char path[32];
    std::snprintf(path, sizeof path, "/proc/%d/stat", int(pid));
    const int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return true;
    char text[256];
    const ssize_t length = ::read(file, text, sizeof text);
    ::close(file);
    // The state follows the name, which is in parentheses and may hold any character itself.
    const QByteArrayView line(text, length > 0 ? length : 0);
    const qsizetype close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return true;
    return line.at(close + 2) == 'Z' || line.at(close + 2) == 'X';
}

// Whether no process (nor thread) has been started since the one given: anything that joins its
// group is started after it, so it is alone there then.
bool noneStartedSince(int lastProcessId, pid_t pid)
{
    char text[32];
    const ssize_t length =
        lastProcessId < 0 ? -1 : ::pread(lastProcessId, text, sizeof text - 1, 0);
    if (length <= 0)
        return false;
    text[length] = '\0';
    return std::strtol(text, nullptr, 10) == pid;
}

// The processes of a group, its leader aside, that have not ended. The kernel lists the members
// of no group, so this looks at every process it shows.
std::vector<pid_t> othersInGroup(pid_t group, int lastProcessId)
{
    std::vector<pid_t> others;
    if (noneStartedSince(lastProcessId, group))
        return others;
    for (const qint64 id : ProcessTable::processIds()) {
        const auto pid = pid_t(id);
        if (pid != group && ::getpgid(pid) == group && !hasEnded(pid))
            others.push_back(pid);
    }
    return others;
}

pid_t spawn(LaunchInfo &info, LaunchCommand &command)
{
    std::vector<char *> argv;
    for (QByteArray &argument : command.arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The runner's own environment with the entry's lines in place of the same names, and the
    // run's id in place of one it may have inherited or an entry may name.
    QByteArray runId = QByteArray(ProcessTable::runIdVariable) + '=';
    std::vector<QByteArrayView> replaced {QByteArrayView(runId)};
    for (const QByteArray &line : std::as_const(info.environment)) {
        if (const qsizetype equals = line.indexOf('='); equals > 0)
            replaced.push_back(QByteArrayView(line).first(equals + 1));
    }
    const auto isReplaced = [&replaced](QByteArrayView assignment) {
        return std::any_of(replaced.cbegin(), replaced.cend(), [assignment](QByteArrayView name) {
            return assignment.startsWith(name);
        });
    };
    std::vector<char *> environment;
    for (char **assignment = environ; *assignment; ++assignment) {
        if (!isReplaced(*assignment))
            environment.push_back(*assignment);
    }
    // The spawn only reads what it is given.
    for (const QByteArray &line : std::as_const(info.environment)) {
        if (line.indexOf('=') > 0 && !line.startsWith(replaced.front()))
            environment.push_back(const_cast<char *>(line.constData()));
    }
    runId += info.runId;
    if (!info.runId.isEmpty())
        environment.push_back(runId.data());
    environment.push_back(nullptr);

    SessionSpawn how;
    how.output = info.outputDescriptor;
    how.error = info.errorDescriptor;
    how.directory = info.directory;
    pid_t pid = 0;
    // No shell in between, so nothing in the parameters is ever expanded or run as a command.
    const int error =
        spawnInSession(how, command.program.constData(), argv.data(), environment.data(), pid);
    if (error != 0) {
        const QString interpreter =
            error == ENOENT ? missingInterpreter(command.program) : QString();
        complain(info, interpreter.isEmpty() ? errorText(error) : interpreter);
        return 0;
    }
    return pid;
}

int sendToKernel(qint64 target, int signal)
{
    return ::kill(static_cast<pid_t>(target), signal) == 0 ? 0 : errno;
}

} // namespace

ProcessLauncher::ProcessLauncher()
    : ProcessLauncher(&sendToKernel)
{ }

ProcessLauncher::ProcessLauncher(SignalSender sendSignal)
    : m_sendSignal(std::move(sendSignal))
    , m_lastProcessId(::open("/proc/sys/kernel/ns_last_pid", O_RDONLY | O_CLOEXEC))
{
    QObject::connect(&m_collector, &QTimer::timeout, &m_collector, [this] { collectEnded(); });
}

void ProcessLauncher::launch(LaunchInfo &info)
{
    info.process = {};
    info.startTicks = 0;
    info.failure.clear();
    info.opener.clear();
    info.scopeProblem.clear();
    info.limitsNotApplied.clear();
    LaunchCommand command = resolveLaunch(info);
    if (!command.failure.isEmpty()) {
        complain(info, command.failure);
        return;
    }
    const pid_t pid = spawn(info, command);
    if (pid == 0)
        return;
    info.process.id = pid;
    info.startTicks = ProcessTable::child(pid).startTicks;
    if (command.throughOpener)
        info.opener = command.program;
    Child &child = m_running[pid];
    child = {info.entry, info.file, {}, -1, false, {}};
    child.clock.start();
    // Watched from the start, so that a program that ends by itself is seen to end when it does.
    watch(pid);

    QString line = u"started "_s + subject(info.entry, info.file);
    if (command.throughOpener) {
        line += u" through "_s + quotedBytes(command.program);
        if (!info.parameters.trimmed().isEmpty())
            line += u" without its parameters"_s;
    } else {
        if (command.program != info.file)
            line += u" as "_s + quotedBytes(command.program);
        line += u' ' + quotedWords(command.arguments.mid(1));
    }
    qCInfo(runLog).noquote() << line + u" pid " + QString::number(pid);
    if (info.ownScope)
        enterScope(info, child);
}

// The program goes into a scope of its own just after it started; what it starts in the meantime
// stays in its group only. Without a scope it runs all the same, and is ended by its group.
void ProcessLauncher::enterScope(LaunchInfo &info, Child &child)
{
    const UserScope::Entered entered =
        UserScope::enter(info.process.id, info.entry, info.memoryMax, info.cpuQuota);
    child.scope = entered.unit;
    info.scopeProblem = entered.problem;
    info.limitsNotApplied = entered.limitsNotApplied;
    const QString name =
        subject(info.entry, info.file) + u" pid " + QString::number(info.process.id);
    if (!entered.problem.isEmpty())
        qCWarning(runLog).noquote()
            << name + u" runs without a scope of its own: " + entered.problem;
    else
        qCInfo(runLog).noquote() << name + u" runs in " + entered.unit;
    if (!entered.limitsNotApplied.isEmpty())
        qCWarning(runLog).noquote()
            << name + u": not in force in its scope: " + entered.limitsNotApplied.join(u", "_s);
}

ProcessEnd ProcessLauncher::terminate(ProcessHandle &process, int graceMs)
{
    const qint64 id = std::exchange(process.id, 0);
    const auto found = m_running.find(id);
    siginfo_t state {};
    if (graceMs <= 0 || found == m_running.end() || lookAt(pid_t(id), state) != Leader::running)
        return endNow(id);
    // Asked through its scope, which reaches also what left its group; else through its group.
    if ((found->scope.isEmpty() || !UserScope::end(found->scope, true).isEmpty())
        && m_sendSignal(-id, SIGTERM) != 0)
        return endNow(id);
    // Asked first: the rest follows once it has gone, or once its grace is over.
    Child child = *found;
    m_running.erase(found);
    ProcessEnd end;
    end.how = ProcessEnd::How::Ending;
    end.lifetimeMs = child.clock.elapsed();
    qCInfo(runLog).noquote() << u"asked "_s + subject(child.entry, child.file) + u" pid "
            + QString::number(id) + u" to end, with " + QString::number(graceMs / 1000)
            + u" s to do so";
    auto grace = std::make_shared<QTimer>();
    grace->setSingleShot(true);
    grace->setTimerType(Qt::PreciseTimer);
    QObject::connect(grace.get(), &QTimer::timeout, grace.get(),
                     [this, id] { endWhenAsked(id, true); });
    grace->start(graceMs);
    m_ending.insert(id, {std::move(child), std::move(grace)});
    return end;
}

// A program asked to end has gone, or its grace is over: what is left of its group is ended now,
// and whoever asked hears how it ended.
void ProcessLauncher::endWhenAsked(qint64 id, bool graceOver)
{
    const auto found = m_ending.find(id);
    if (found == m_ending.end())
        return;
    Child child = std::move(found->first);
    // Its timer may be the caller: it goes once this has returned.
    found->second->disconnect();
    QTimer::singleShot(0, [timer = found->second] {});
    m_ending.erase(found);
    m_running.insert(id, child);
    ProcessEnd end = endNow(id);
    if (end.how == ProcessEnd::How::Exited || end.how == ProcessEnd::How::Signalled) {
        end.bySignal = end.how == ProcessEnd::How::Signalled;
        end.how = ProcessEnd::How::EndedWhenAsked;
    } else if (end.how == ProcessEnd::How::Killed && graceOver) {
        end.detail = u"it did not end within its grace and was killed"_s;
    }
    endedLater(id, end);
}

void ProcessLauncher::endAtOnce(qint64 id)
{
    endWhenAsked(id, true);
}

ProcessEnd ProcessLauncher::endNow(qint64 id)
{
    // kill(-id) with any of these would hit everything, ourselves or our own group.
    if (id <= 1 || id > std::numeric_limits<pid_t>::max())
        return {};
    const auto pid = static_cast<pid_t>(id);
    if (pid == ::getpid() || pid == ::getpgrp())
        return {};
    // Only what this launcher started and has not handed back yet: an id handed back may already
    // have been collected and given to someone else.
    const auto found = m_running.constFind(id);
    if (found == m_running.cend())
        return {};
    Child child = *found;
    m_running.erase(found);
    const QString name = subject(child.entry, child.file) + u" pid " + QString::number(pid);
    // Its scope goes after its group: what left the group goes with it.
    const auto endScope = qScopeGuard([&name, scope = child.scope] {
        if (scope.isEmpty())
            return;
        if (const QString problem = UserScope::end(scope, false); !problem.isEmpty())
            qCWarning(runLog).noquote()
                << u"cannot end "_s + scope + u" of " + name + u": " + problem;
    });
    ProcessEnd end;
    end.lifetimeMs = child.clock.elapsed();

    siginfo_t state {};
    const Leader leader = lookAt(pid, state);
    if (leader == Leader::lost)
        return {}; // collected behind our back; the id may be someone else's now
    // The group's id is its leader's, which stays reserved while the leader is uncollected, so it
    // names no one else's group even when the program has left first. A running program is ended
    // before anything else is done, so that the run lasts exactly its time.
    std::vector<pid_t> others;
    int error = 0;
    if (leader == Leader::running) {
        error = m_sendSignal(-id, SIGKILL);
        // The group only goes missing if the program never got a session of its own.
        if (error != 0)
            error = m_sendSignal(id, SIGKILL);
        others = othersInGroup(pid, m_lastProcessId);
    } else {
        others = othersInGroup(pid, m_lastProcessId);
        if (!others.empty())
            error = m_sendSignal(-id, SIGKILL);
    }
    // A group's signal counts as sent when any member got it, so each one is asked whether it
    // could be ended, as one that took another user's id could not.
    const auto refusal = [this](pid_t member) {
        const int answer = m_sendSignal(member, 0);
        return answer == ESRCH ? 0 : answer;
    };
    int leaderRefusal = 0;
    if (leader == Leader::running)
        leaderRefusal = error != 0 ? error : (others.empty() ? 0 : refusal(pid));
    QStringList refusing;
    int memberRefusal = 0;
    for (const pid_t member : others) {
        if (const int answer = refusal(member); answer != 0) {
            refusing.append(QString::number(member));
            memberRefusal = memberRefusal != 0 ? memberRefusal : answer;
        }
    }

    if (leaderRefusal != 0 || memberRefusal != 0) {
        // For instance a set-user-ID program that took another user's id: it keeps running, and
        // the leader stays uncollected so that the group's id stays reserved while it does.
        child.refused = true;
        end.how = ProcessEnd::How::NotEnded;
        QString line = u"cannot end "_s + name + u": ";
        if (leaderRefusal != 0) {
            end.detail = errorText(leaderRefusal);
            line += end.detail;
        } else {
            end.detail = errorText(memberRefusal);
            line += end.detail + (refusing.size() == 1 ? u" for pid "_s : u" for pids "_s)
                + refusing.join(u", "_s) + u" in its group";
        }
        qCWarning(runLog).noquote() << line + u"; it keeps running";
    } else if (leader == Leader::running) {
        end.how = ProcessEnd::How::Killed;
        qCInfo(runLog).noquote() << u"ended "_s + name + u" after " + seconds(child.clock)
                + u": killed";
    } else {
        const ProcessEnd left = endOf(state);
        end.how = left.how;
        end.status = left.status;
        if (child.endedMs >= 0)
            end.lifetimeMs = child.endedMs;
        QString line = u"ended "_s + name + u" after " + seconds(child.clock) + u": had already "
            + howItEnded(state);
        if (!others.empty())
            line += u"; killed "_s + QString::number(others.size())
                + (others.size() == 1 ? u" process"_s : u" processes"_s) + u" it left in its group";
        qCInfo(runLog).noquote() << line;
    }
    if (child.refused) {
        // Watched from now on: first the leader while it runs, then what runs on in its group.
        if (leader == Leader::running) {
            waitFor(id);
        } else {
            for (const pid_t member : others)
                waitFor(member);
        }
        m_leftRunning.insert(id, std::move(child));
    } else if (leader == Leader::running && lookAt(pid, state) == Leader::running) {
        waitFor(id);
        m_leftRunning.insert(id, std::move(child));
    } else {
        collect(pid);
    }
    return end;
}

ProcessLauncher::~ProcessLauncher()
{
    if (m_lastProcessId >= 0)
        ::close(m_lastProcessId);
}

// Wakes the event loop once the process has ended; false when the kernel offers no such word.
bool ProcessLauncher::watch(qint64 pid)
{
    if (m_exitWatches.count(pid) != 0)
        return true;
    // Called directly: this glibc declares pidfd_open() without C linkage for C++. It works for any
    // process this one can see, not only for its own children.
    const int descriptor = int(::syscall(SYS_pidfd_open, static_cast<pid_t>(pid), 0));
    if (descriptor < 0)
        return false;
    auto exitWatch = std::make_unique<ExitWatch>(descriptor);
    QObject::connect(exitWatch.get(), &QSocketNotifier::activated, exitWatch.get(), [this, pid] {
        bool byItself = false;
        if (const auto running = m_running.find(pid);
            running != m_running.end() && running->endedMs < 0) {
            running->endedMs = running->clock.elapsed();
            byItself = true;
        }
        dropWatch(pid);
        collectEnded();
        // Last, since whoever hears of it may start or end programs at once.
        if (m_ending.contains(pid))
            endWhenAsked(pid, false);
        else if (byItself)
            endedByItself(pid);
    });
    m_exitWatches[pid] = std::move(exitWatch);
    return true;
}

void ProcessLauncher::dropWatch(qint64 pid)
{
    const auto found = m_exitWatches.find(pid);
    if (found == m_exitWatches.end())
        return;
    // This may run inside the watch's own signal, so it goes once that has returned.
    found->second->setEnabled(false);
    found->second.release()->deleteLater();
    m_exitWatches.erase(found);
}

void ProcessLauncher::waitFor(qint64 pid)
{
    if (!watch(pid) && !m_collector.isActive())
        m_collector.start(firstCollectMs);
}

void ProcessLauncher::collectEnded()
{
    bool unwatched = false;
    std::vector<std::pair<qint64, ProcessEnd>> lateCollections;
    for (auto it = m_leftRunning.begin(); it != m_leftRunning.end();) {
        const auto pid = static_cast<pid_t>(it.key());
        siginfo_t state {};
        const Leader leader = lookAt(pid, state);
        if (leader == Leader::running) {
            unwatched = !watch(pid) || unwatched;
            ++it;
            continue;
        }
        if (leader == Leader::ended && it->refused) {
            // What could not be ended keeps the group's id reserved until it has gone too.
            const std::vector<pid_t> others = othersInGroup(pid, m_lastProcessId);
            for (const pid_t member : others)
                unwatched = !watch(member) || unwatched;
            if (!others.empty()) {
                ++it;
                continue;
            }
        }
        if (leader == Leader::ended) {
            collect(pid);
            if (it->refused) {
                ProcessEnd end = endOf(state);
                end.lifetimeMs = it->clock.elapsed();
                qCInfo(runLog).noquote() << u"collected "_s + subject(it->entry, it->file)
                        + u" pid " + QString::number(pid) + u" after " + seconds(it->clock) + u": "
                        + howItEnded(state);
                lateCollections.emplace_back(it.key(), end);
            }
        }
        dropWatch(it.key());
        it = m_leftRunning.erase(it);
    }
    if (!unwatched)
        m_collector.stop();
    else if (!m_collector.isActive())
        m_collector.start(firstCollectMs);
    else
        m_collector.setInterval(std::min(m_collector.interval() * 2, slowestCollectMs));
    // Last, since whoever hears of it may start or end programs at once.
    for (const auto &[id, end] : lateCollections)
        collectedLate(id, end);
}
