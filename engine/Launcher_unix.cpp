#include "ArgumentSplitter.h"
#include "Launcher.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// What a launch resolves to: the program to execute and its complete argv.
struct Command
{
    QByteArray program;
    QByteArrayList arguments;
};

void complain(const QString &file, const QByteArray &reason)
{
    const QByteArray line =
        "vantrel-autorun: cannot start \"" + file.toUtf8() + "\": " + reason + '\n';
    [[maybe_unused]] const auto written =
        ::write(STDERR_FILENO, line.constData(), static_cast<size_t>(line.size()));
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

bool isAsciiLetter(char16_t c)
{
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z');
}

// A scheme needs two characters or more, so that a drive path such as C:\x.exe left over from
// another system is reported missing instead of being handed to the opener.
bool looksLikeUrl(const QString &text)
{
    const qsizetype colon = text.indexOf(u':');
    if (colon < 2 || !isAsciiLetter(text.at(0).unicode()))
        return false;
    for (qsizetype i = 1; i < colon; ++i) {
        const char16_t c = text.at(i).unicode();
        if (!isAsciiLetter(c) && !(c >= u'0' && c <= u'9') && c != u'+' && c != u'.' && c != u'-')
            return false;
    }
    return true;
}

std::optional<Command> openerCommand(const QString &file, const QByteArray &target)
{
    const QByteArray opener = findOnPath("xdg-open");
    if (opener.isEmpty()) {
        complain(file, "no xdg-open on PATH to open it with");
        return std::nullopt;
    }
    return Command {opener, {QByteArray("xdg-open"), target}};
}

std::optional<Command> programCommand(const LaunchInfo &info, const QByteArray &program)
{
    const std::optional<QStringList> words = splitArguments(info.parameters);
    if (!words) {
        complain(info.file, "a quote in its parameters is never closed");
        return std::nullopt;
    }
    Command command {program, {QFile::encodeName(info.file)}};
    for (const QString &word : *words)
        command.arguments.append(word.toLocal8Bit());
    return command;
}

// The verb has no counterpart here: every entry gets its file type's default action.
std::optional<Command> resolve(const LaunchInfo &info)
{
    const QByteArray file = QFile::encodeName(info.file);
    struct stat status = {};
    if (!file.isEmpty() && ::stat(file.constData(), &status) == 0) {
        if (isProgram(file))
            return programCommand(info, absolute(file));
        return openerCommand(info.file, absolute(file));
    }
    if (!file.isEmpty() && !file.contains('/')) {
        const QByteArray found = findOnPath(file);
        if (!found.isEmpty())
            return programCommand(info, found);
    }
    if (looksLikeUrl(info.file))
        return openerCommand(info.file, file);
    complain(info.file, "no such file");
    return std::nullopt;
}

pid_t spawn(const QString &file, Command &command, const QString &directory)
{
    std::vector<char *> argv;
    for (QByteArray &argument : command.arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    if (const int error = ::posix_spawn_file_actions_init(&actions); error != 0) {
        complain(file, std::strerror(error));
        return 0;
    }
    const auto destroyActions = qScopeGuard([&] { ::posix_spawn_file_actions_destroy(&actions); });
    posix_spawnattr_t attributes;
    if (const int error = ::posix_spawnattr_init(&attributes); error != 0) {
        complain(file, std::strerror(error));
        return 0;
    }
    const auto destroyAttributes = qScopeGuard([&] { ::posix_spawnattr_destroy(&attributes); });

    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    const QByteArray where = QFile::encodeName(directory);
    // Our own descriptors, the schedule database among them, must not leak into the program.
    int error = ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (error == 0 && !where.isEmpty())
        error = ::posix_spawn_file_actions_addchdir_np(&actions, where.constData());
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
        complain(file, std::strerror(error));
        return 0;
    }
    return pid;
}

} // namespace

void ShellLauncher::launch(LaunchInfo &info)
{
    info.process = {};
    if (!info.directory.isEmpty() && !QFileInfo(info.directory).isDir()) {
        complain(info.file, "no such directory \"" + info.directory.toUtf8() + '"');
        return;
    }
    std::optional<Command> command = resolve(info);
    if (command)
        info.process.id = spawn(info.file, *command, info.directory);
}

void ShellLauncher::terminate(ProcessHandle &process)
{
    const qint64 id = std::exchange(process.id, 0);
    // kill(-id) with any of these would hit everything, ourselves or our own group.
    if (id <= 1 || id > std::numeric_limits<pid_t>::max())
        return;
    const auto pid = static_cast<pid_t>(id);
    if (pid == ::getpid() || pid == ::getpgrp())
        return;
    // Until it is reaped, our child keeps its pid and group id reserved; once reaped, the id may
    // belong to someone else and must not be signalled.
    siginfo_t state {};
    if (::waitid(P_PID, static_cast<id_t>(pid), &state, WEXITED | WNOHANG | WNOWAIT) != 0)
        return;
    // The group only goes missing if the program never got a session of its own; it must still end
    // or waitpid() below would wait for it.
    if (::kill(-pid, SIGKILL) != 0)
        ::kill(pid, SIGKILL);
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}
