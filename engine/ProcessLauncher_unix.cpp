#include "engine/ArgumentSplitter.h"
#include "engine/ProcessLauncher.h"
#include "engine/RunLog.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QScopeGuard>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <spawn.h>
#include <sys/stat.h>
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

// What a launch resolves to: the program to execute and its complete argv.
struct Command
{
    QByteArray program;
    QByteArrayList arguments;
    bool throughOpener = false;
};

QString subject(const QString &entry, const QByteArray &file)
{
    return (entry.isEmpty() ? QString() : u"entry "_s + entry + u' ') + quotedBytes(file);
}

void complain(const LaunchInfo &info, const QString &reason)
{
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

// Collects the child if it has ended, without waiting; false while it is still running.
bool collect(pid_t pid, siginfo_t &state)
{
    state = {};
    while (::waitid(P_PID, static_cast<id_t>(pid), &state, WEXITED | WNOHANG) != 0) {
        // Collected by someone else: the id is no longer ours either way.
        if (errno != EINTR)
            return true;
    }
    return state.si_pid == pid;
}

QByteArray absolute(const QByteArray &path)
{
    if (path.startsWith('/'))
        return path;
    return QFile::encodeName(QDir::currentPath()) + '/' + path;
}

bool isProgram(const QByteArray &path)
{
    struct stat status = {};
    return ::stat(path.constData(), &status) == 0 && S_ISREG(status.st_mode)
        && ::faccessat(AT_FDCWD, path.constData(), X_OK, AT_EACCESS) == 0;
}

// Empty PATH entries are skipped, not read as the current directory: entry names are tried
// there before PATH anyway, and the opener must never be picked up from it.
QByteArray findOnPath(const QByteArray &name)
{
    const QByteArray search =
        qEnvironmentVariableIsSet("PATH") ? qgetenv("PATH") : QByteArray("/usr/bin:/bin");
    for (const QByteArray &directory : search.split(':')) {
        if (directory.isEmpty())
            continue;
        const QByteArray candidate = absolute(directory + '/' + name);
        if (isProgram(candidate))
            return candidate;
    }
    return {};
}

bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// A scheme needs two characters or more, so that a drive path such as C:\x.exe left over from
// another system is reported missing instead of being handed to the opener.
bool looksLikeUrl(QByteArrayView text)
{
    const qsizetype colon = text.indexOf(':');
    if (colon < 2 || !isAsciiLetter(text.at(0)))
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        const char c = text.at(i);
        if (!isAsciiLetter(c) && !(c >= '0' && c <= '9') && c != '+' && c != '.' && c != '-')
            return false;
    }
    return true;
}

std::optional<Command> openerCommand(const LaunchInfo &info, const QByteArray &target)
{
    const QByteArray opener = findOnPath("xdg-open");
    if (opener.isEmpty()) {
        complain(info, u"no xdg-open on PATH to open it with"_s);
        return std::nullopt;
    }
    return Command {opener, {QByteArray("xdg-open"), target}, true};
}

std::optional<Command> programCommand(const LaunchInfo &info, const QByteArray &program)
{
    const std::optional<QList<QByteArray>> words = splitArguments(info.parameters);
    if (!words) {
        complain(info, u"a quote in its parameters is never closed"_s);
        return std::nullopt;
    }
    // The kernel would cut a word at a zero byte; better to start nothing than something else.
    if (std::any_of(words->cbegin(), words->cend(),
                    [](const QByteArray &w) { return w.contains('\0'); })) {
        complain(info, u"its parameters hold a zero byte"_s);
        return std::nullopt;
    }
    return Command {program, QByteArrayList {info.file} + *words};
}

// The verb has no counterpart here: every entry gets its file type's default action.
std::optional<Command> resolve(const LaunchInfo &info)
{
    const QByteArray &file = info.file;
    struct stat status = {};
    if (!file.isEmpty() && ::stat(file.constData(), &status) == 0) {
        if (isProgram(file))
            return programCommand(info, absolute(file));
        return openerCommand(info, absolute(file));
    }
    if (!file.isEmpty() && !file.contains('/')) {
        const QByteArray found = findOnPath(file);
        if (!found.isEmpty())
            return programCommand(info, found);
    }
    if (looksLikeUrl(file))
        return openerCommand(info, file);
    complain(info, u"no such file"_s);
    return std::nullopt;
}

pid_t spawn(const LaunchInfo &info, Command &command)
{
    std::vector<char *> argv;
    for (QByteArray &argument : command.arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (const int error = ::posix_spawn_file_actions_init(&actions); error != 0) {
        complain(info, errorText(error));
        return 0;
    }
    const auto destroyActions = qScopeGuard([&] { ::posix_spawn_file_actions_destroy(&actions); });
    posix_spawnattr_t attributes;
    if (const int error = ::posix_spawnattr_init(&attributes); error != 0) {
        complain(info, errorText(error));
        return 0;
    }
    const auto destroyAttributes = qScopeGuard([&] { ::posix_spawnattr_destroy(&attributes); });

    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    // Our own descriptors, the schedule database among them, must not leak into the program.
    int error = ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (error == 0 && !info.directory.isEmpty())
        error = ::posix_spawn_file_actions_addchdir_np(&actions, info.directory.constData());
    // Every signal back to its default, except glibc's two reserved ones, which it leaves ignored.
    if (error == 0)
        error = ::posix_spawnattr_setsigdefault(&attributes, &all);
    if (error == 0)
        error = ::posix_spawnattr_setsigmask(&attributes, &none);
    // A session of its own makes the program lead a process group that terminate() can end whole.
    if (error == 0)
        error = ::posix_spawnattr_setflags(
            &attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

    pid_t pid = 0;
    // No shell in between, so nothing in the parameters is ever expanded or run as a command.
    if (error == 0)
        error = ::posix_spawn(&pid, command.program.constData(), &actions, &attributes, argv.data(),
                              environ);
    if (error != 0) {
        complain(info, errorText(error));
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
{
    QObject::connect(&m_collector, &QTimer::timeout, &m_collector, [this] { collectEnded(); });
}

void ProcessLauncher::launch(LaunchInfo &info)
{
    info.process = {};
    // A zero byte would end the name early at the kernel, which would then start another file.
    if (info.file.contains('\0')) {
        complain(info, u"its name holds a zero byte"_s);
        return;
    }
    if (info.directory.contains('\0')) {
        complain(info, u"the name of its directory holds a zero byte"_s);
        return;
    }
    struct stat status = {};
    if (!info.directory.isEmpty()
        && !(::stat(info.directory.constData(), &status) == 0 && S_ISDIR(status.st_mode))) {
        complain(info, u"no such directory "_s + quotedBytes(info.directory));
        return;
    }
    std::optional<Command> command = resolve(info);
    if (!command)
        return;
    const pid_t pid = spawn(info, *command);
    if (pid == 0)
        return;
    info.process.id = pid;
    Child &child = m_running[pid];
    child = {info.entry, info.file, {}, false};
    child.clock.start();

    QString line = u"started "_s + subject(info.entry, info.file);
    if (command->throughOpener) {
        line += u" through "_s + quotedBytes(command->program);
        if (!info.parameters.trimmed().isEmpty())
            line += u" without its parameters"_s;
    } else {
        if (command->program != info.file)
            line += u" as "_s + quotedBytes(command->program);
        line += u' ' + quotedWords(command->arguments.mid(1));
    }
    qCInfo(runLog).noquote() << line + u" pid " + QString::number(pid);
}

void ProcessLauncher::terminate(ProcessHandle &process)
{
    const qint64 id = std::exchange(process.id, 0);
    // kill(-id) with any of these would hit everything, ourselves or our own group.
    if (id <= 1 || id > std::numeric_limits<pid_t>::max())
        return;
    const auto pid = static_cast<pid_t>(id);
    if (pid == ::getpid() || pid == ::getpgrp())
        return;
    // Only what this launcher started and has not handed back yet: an id handed back may already
    // have been collected and given to someone else.
    const auto found = m_running.constFind(id);
    if (found == m_running.cend())
        return;
    Child child = *found;
    m_running.erase(found);
    const QString name = subject(child.entry, child.file) + u" pid " + QString::number(pid);

    siginfo_t state {};
    if (::waitid(P_PID, static_cast<id_t>(pid), &state, WEXITED | WNOHANG) != 0)
        return; // collected behind our back; the id may be someone else's now
    if (state.si_pid == pid) {
        qCInfo(runLog).noquote() << u"ended "_s + name + u" after " + seconds(child.clock)
                + u": had already " + howItEnded(state);
        return;
    }
    // The group only goes missing if the program never got a session of its own.
    int error = m_sendSignal(-id, SIGKILL);
    if (error != 0)
        error = m_sendSignal(id, SIGKILL);
    if (error != 0) {
        // For instance a set-user-ID program that took another user's id: it keeps running.
        child.refused = true;
        qCWarning(runLog).noquote()
            << u"cannot end "_s + name + u": " + errorText(error) + u"; it keeps running";
    } else {
        qCInfo(runLog).noquote() << u"ended "_s + name + u" after " + seconds(child.clock)
                + u": killed";
    }
    if (!collect(pid, state))
        leaveForLater(id, std::move(child));
}

ProcessLauncher::~ProcessLauncher() = default;

void ProcessLauncher::leaveForLater(qint64 id, Child child)
{
    m_leftRunning.insert(id, std::move(child));
    // Called directly: this glibc declares pidfd_open() without C linkage for C++.
    const int descriptor = int(::syscall(SYS_pidfd_open, static_cast<pid_t>(id), 0));
    if (descriptor < 0) {
        if (!m_collector.isActive())
            m_collector.start(firstCollectMs);
        return;
    }
    auto watch = std::make_unique<ExitWatch>(descriptor);
    QObject::connect(watch.get(), &QSocketNotifier::activated, watch.get(),
                     [this] { collectEnded(); });
    m_exitWatches[id] = std::move(watch);
}

void ProcessLauncher::collectEnded()
{
    for (auto it = m_leftRunning.begin(); it != m_leftRunning.end();) {
        const auto pid = static_cast<pid_t>(it.key());
        siginfo_t state {};
        if (!collect(pid, state)) {
            ++it;
            continue;
        }
        if (it->refused && state.si_pid == pid)
            qCInfo(runLog).noquote() << u"collected "_s + subject(it->entry, it->file) + u" pid "
                    + QString::number(pid) + u" after " + seconds(it->clock) + u": "
                    + howItEnded(state);
        if (const auto watch = m_exitWatches.find(it.key()); watch != m_exitWatches.end()) {
            // This may run inside the watch's own signal, so it goes once that has returned.
            watch->second->setEnabled(false);
            watch->second.release()->deleteLater();
            m_exitWatches.erase(watch);
        }
        it = m_leftRunning.erase(it);
    }
    if (m_leftRunning.isEmpty())
        m_collector.stop();
    else if (m_collector.isActive())
        m_collector.setInterval(std::min(m_collector.interval() * 2, slowestCollectMs));
}
