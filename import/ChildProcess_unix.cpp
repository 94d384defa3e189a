#include "import/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

QString systemError(const char *what)
{
    return QStringLiteral("%1: %2").arg(QLatin1StringView(what),
                                        QString::fromLocal8Bit(std::strerror(errno)));
}

bool writeAll(int descriptor, const std::string &bytes)
{
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t result = ::write(descriptor, bytes.data() + written, bytes.size() - written);
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        written += std::size_t(result);
    }
    return true;
}

// The child: only the work and plain system calls, then _exit, which runs none of the parent's
// exit handlers and flushes none of the buffers it inherited.
[[noreturn]] void runChild(int output, const std::function<std::string()> &work)
{
    // What the library says about a damaged file is for its own developers; the message the
    // person reads comes from the bytes sent back.
    const int nowhere = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (nowhere >= 0) {
        ::dup2(nowhere, STDOUT_FILENO);
        ::dup2(nowhere, STDERR_FILENO);
    }
    std::string bytes;
    try {
        bytes = work();
    } catch (...) {
        ::_exit(2);
    }
    ::_exit(writeAll(output, bytes) ? 0 : 3);
}

QString endedHow(int status)
{
    if (WIFSIGNALED(status)) {
        return QStringLiteral("it crashed (signal %1, %2)")
            .arg(WTERMSIG(status))
            .arg(QString::fromLocal8Bit(::strsignal(WTERMSIG(status))));
    }
    return QStringLiteral("it stopped with status %1").arg(WEXITSTATUS(status));
}

} // namespace

ChildOutcome runInChild(const std::function<std::string()> &work,
                        std::chrono::milliseconds deadline)
{
    using Clock = std::chrono::steady_clock;
    ChildOutcome outcome;
    int channel[2];
    if (::pipe2(channel, O_CLOEXEC) != 0) {
        outcome.failure = systemError("no pipe");
        return outcome;
    }
    const pid_t pid = ::fork();
    if (pid < 0) {
        outcome.failure = systemError("no child process");
        ::close(channel[0]);
        ::close(channel[1]);
        return outcome;
    }
    if (pid == 0) {
        ::close(channel[0]);
        runChild(channel[1], work);
    }
    ::close(channel[1]);
    outcome.started = true;

    // Read while the child writes: a full pipe would leave it waiting for us for ever.
    const Clock::time_point end = Clock::now() + deadline;
    bool complete = false;
    char buffer[1 << 16];
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            outcome.failure =
                QStringLiteral("it took longer than %1 s").arg(deadline.count() / 1000);
            break;
        }
        pollfd readable {channel[0], POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(std::min<long long>(left, 1 << 30)));
        if (ready < 0 && errno != EINTR) {
            outcome.failure = systemError("poll");
            break;
        }
        if (ready <= 0)
            continue;
        const ssize_t count = ::read(channel[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            outcome.failure = systemError("read");
            break;
        }
        if (count == 0) {
            complete = true;
            break;
        }
        outcome.output.append(buffer, count);
    }
    ::close(channel[0]);
    if (!complete)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            outcome.failure = systemError("waitpid");
            return outcome;
        }
    }
    if (!complete)
        return outcome;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
        outcome.finished = true;
    else
        outcome.failure = endedHow(status);
    return outcome;
}
