#include "engine/ProcessTable.h"

#include <QByteArrayList>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <unistd.h>
#include <vector>

namespace {

// A whole small file of the kernel's, read at once; empty when it cannot be read.
QByteArray readFile(const char *path)
{
    const int file = ::open(path, O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return {};
    QByteArray text;
    char buffer[4096];
    for (ssize_t length; (length = ::read(file, buffer, sizeof buffer)) != 0;) {
        if (length < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        text.append(buffer, length);
    }
    ::close(file);
    return text;
}

QByteArray procPath(pid_t pid, const char *name)
{
    return "/proc/" + QByteArray::number(pid) + '/' + name;
}

// The fields of /proc/PID/stat that matter here.
struct Status
{
    pid_t pid = 0;
    pid_t group = 0;
    pid_t session = 0;
    qint64 startTicks = 0;
};

// A process that has not ended (or, when asked, one that has and is not collected yet), or
// nothing.
std::optional<Status> statusOf(pid_t pid, bool evenEnded = false)
{
    const QByteArray text = readFile(procPath(pid, "stat").constData());
    // The name is in parentheses and may hold anything, so the fields are counted after its end.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QByteArrayList fields = text.mid(close + 2).split(' ');
    // From the state on: state, ppid, pgrp, session, … starttime is the 20th.
    if (fields.size() < 20 || (!evenEnded && (fields.at(0) == "Z" || fields.at(0) == "X")))
        return std::nullopt;
    Status status;
    status.pid = pid;
    status.group = pid_t(fields.at(2).toLong());
    status.session = pid_t(fields.at(3).toLong());
    status.startTicks = fields.at(19).toLongLong();
    return status;
}

std::vector<Status> everyProcess()
{
    std::vector<Status> processes;
    for (const qint64 pid : ProcessTable::processIds()) {
        if (const auto status = statusOf(pid_t(pid)))
            processes.push_back(*status);
    }
    return processes;
}

// Whether the process's environment holds the variable with this value. Only our own user's
// processes can be read.
bool carries(pid_t pid, const QByteArray &assignment)
{
    const QByteArray environment = readFile(procPath(pid, "environ").constData());
    for (qsizetype start = 0; start < environment.size();) {
        qsizetype end = environment.indexOf('\0', start);
        if (end < 0)
            end = environment.size();
        if (QByteArrayView(environment).sliced(start, end - start) == assignment)
            return true;
        start = end + 1;
    }
    return false;
}

// Nothing that would hit everything, ourselves or our own group is ever signalled.
bool maySignal(pid_t pid)
{
    return pid > 1 && pid != ::getpid() && pid != ::getpgrp();
}

QByteArray machineIdentity()
{
    for (const char *path : {"/etc/machine-id", "/var/lib/dbus/machine-id"}) {
        const QByteArray text = readFile(path).trimmed();
        if (!text.isEmpty())
            return text;
    }
    return "unknown";
}

} // namespace

namespace ProcessTable {

std::vector<qint64> processIds()
{
    std::vector<qint64> ids;
    DIR *folder = ::opendir("/proc");
    if (!folder)
        return ids;
    while (const dirent *entry = ::readdir(folder)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (end != entry->d_name && *end == '\0' && pid > 1)
            ids.push_back(pid);
    }
    ::closedir(folder);
    return ids;
}

QByteArray bootIdentity()
{
    static const QByteArray identity =
        machineIdentity() + '/' + readFile("/proc/sys/kernel/random/boot_id").trimmed();
    return identity;
}

ProcessIdentity self()
{
    static const ProcessIdentity identity = process(::getpid());
    return identity;
}

ProcessIdentity process(qint64 pid)
{
    if (pid <= 0 || pid > 0x7fffffff)
        return {};
    const auto status = statusOf(pid_t(pid));
    return status ? ProcessIdentity {pid, status->startTicks} : ProcessIdentity();
}

ProcessIdentity child(qint64 pid)
{
    if (pid <= 0 || pid > 0x7fffffff)
        return {};
    const auto status = statusOf(pid_t(pid), true);
    return status ? ProcessIdentity {pid, status->startTicks} : ProcessIdentity();
}

bool isAlive(const ProcessIdentity &identity)
{
    return !identity.isEmpty() && process(identity.pid) == identity;
}

QByteArray describe(const ProcessIdentity &identity)
{
    return bootIdentity() + ':' + QByteArray::number(identity.pid) + ':'
        + QByteArray::number(identity.startTicks);
}

Fate fateOf(const QByteArray &description)
{
    const QByteArrayList parts = description.split(':');
    if (parts.size() != 3)
        return Fate::Unknown;
    const QByteArray &boot = parts.at(0);
    if (boot != bootIdentity()) {
        const QByteArray machine = boot.left(boot.indexOf('/'));
        return machine == bootIdentity().left(bootIdentity().indexOf('/')) ? Fate::GoneWithItsBoot
                                                                           : Fate::Unknown;
    }
    return isAlive({parts.at(1).toLongLong(), parts.at(2).toLongLong()}) ? Fate::Alive : Fate::Gone;
}

Leftovers endLeftovers(const QByteArray &runId, const ProcessIdentity &program)
{
    Leftovers leftovers;
    const QByteArray assignment = QByteArray(runIdVariable) + '=' + runId;
    const std::vector<Status> processes = everyProcess();
    pid_t group = pid_t(program.pid);
    bool leaderAlive = isAlive(program);
    if (group == 0 && !runId.isEmpty()) {
        // The program started, but its runner went before it wrote down which one it was: the
        // first of the run's processes that leads a session of its own is the program.
        const Status *first = nullptr;
        for (const Status &status : processes) {
            if (status.pid == status.session && (!first || status.startTicks < first->startTicks)
                && carries(status.pid, assignment))
                first = &status;
        }
        if (first) {
            group = first->pid;
            leaderAlive = true;
        }
    }
    leftovers.pid = group;
    if (group == 0 || !maySignal(group))
        return leftovers;

    // While the leader is the program, its group's id cannot name anyone else's group; once it is
    // gone, only what carries the run's id is the run's. What left the group for a session of its
    // own is the run's too where it carries the run's id, which no other run has.
    std::vector<pid_t> members;
    std::vector<pid_t> escaped;
    for (const Status &status : processes) {
        if (status.pid == ::getpid() || !maySignal(status.pid))
            continue;
        const bool carriesRun = !runId.isEmpty() && carries(status.pid, assignment);
        if (status.group == group && (leaderAlive || carriesRun))
            members.push_back(status.pid);
        else if (status.group != group && carriesRun)
            escaped.push_back(status.pid);
    }
    if (leaderAlive && !members.empty())
        ::kill(-group, SIGKILL);
    else {
        for (const pid_t member : members)
            ::kill(member, SIGKILL);
    }
    for (const pid_t member : escaped)
        ::kill(member, SIGKILL);
    members.insert(members.end(), escaped.cbegin(), escaped.cend());
    if (members.empty())
        return leftovers;
    int refusal = 0;
    for (const pid_t member : members) {
        if (::kill(member, 0) == 0 || errno != EPERM) {
            // Gone or going: a killed process lingers until its parent collects it.
            ++leftovers.ended;
            continue;
        }
        refusal = errno;
        leftovers.refusing.append(QString::number(member));
    }
    if (refusal != 0)
        leftovers.reason = QString::fromLocal8Bit(std::strerror(refusal));
    return leftovers;
}

} // namespace ProcessTable
