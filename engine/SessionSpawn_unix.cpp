#include "engine/SessionSpawn.h"

#include <QScopeGuard>

#include <csignal>
#include <spawn.h>
#include <unistd.h>

int spawnInSession(const SessionSpawn &how, const char *program, char *const arguments[],
                   char *const environment[], pid_t &pid)
{
    posix_spawn_file_actions_t actions;
    if (const int error = ::posix_spawn_file_actions_init(&actions); error != 0)
        return error;
    const auto destroyActions = qScopeGuard([&] { ::posix_spawn_file_actions_destroy(&actions); });
    posix_spawnattr_t attributes;
    if (const int error = ::posix_spawnattr_init(&attributes); error != 0)
        return error;
    const auto destroyAttributes = qScopeGuard([&] { ::posix_spawnattr_destroy(&attributes); });

    int error = 0;
    const auto give = [&](int descriptor, int standard) {
        if (error == 0 && descriptor >= 0)
            error = ::posix_spawn_file_actions_adddup2(&actions, descriptor, standard);
    };
    give(how.input, STDIN_FILENO);
    give(how.output, STDOUT_FILENO);
    give(how.error, STDERR_FILENO);
    // The runner's own descriptors, the schedule database among them, must not leak into it.
    if (error == 0)
        error = ::posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (error == 0 && !how.directory.isEmpty())
        error = ::posix_spawn_file_actions_addchdir_np(&actions, how.directory.constData());
    // Every signal back to its default, except glibc's two reserved ones, which it leaves ignored.
    sigset_t all;
    sigset_t none;
    sigfillset(&all);
    sigemptyset(&none);
    if (error == 0)
        error = ::posix_spawnattr_setsigdefault(&attributes, &all);
    if (error == 0)
        error = ::posix_spawnattr_setsigmask(&attributes, &none);
    if (error == 0)
        error = ::posix_spawnattr_setflags(
            &attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    if (error != 0)
        return error;
    // posix_spawn() only reads the arguments and environment it is given.
    return how.searchPath
        ? ::posix_spawnp(&pid, program, &actions, &attributes, arguments, environment)
        : ::posix_spawn(&pid, program, &actions, &attributes, arguments, environment);
}
