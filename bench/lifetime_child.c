/* A program whose runs are timed: vantrel_bench_lifetime_child REPORT appends
 * "<start µs> <end µs>" (CLOCK_MONOTONIC) to REPORT once it has ended, however it was ended.
 * A watcher in a session of its own sees the end: the pipe it reads closes when this process
 * dies, even by SIGKILL to its whole process group. */
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <time.h>
#include <unistd.h>

static long long nowMicroseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

int main(int argc, char **argv)
{
    const long long start = nowMicroseconds();
    if (argc != 2)
        return 2;
    int ends[2];
    if (pipe(ends) != 0)
        return 1;
    const pid_t watcher = fork();
    if (watcher < 0)
        return 1;
    if (watcher == 0) {
        setsid();
        close(ends[1]);
        char byte;
        while (read(ends[0], &byte, 1) < 0 && errno == EINTR) { }
        const long long end = nowMicroseconds();
        const int report = open(argv[1], O_WRONLY | O_APPEND | O_CREAT, 0644);
        if (report < 0)
            return 1;
        dprintf(report, "%lld %lld\n", start, end);
        close(report);
        return 0;
    }
    close(ends[0]);
    for (;;)
        pause();
}
