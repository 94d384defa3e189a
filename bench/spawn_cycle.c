/* The least a program does to start and end another: posix_spawn, kill, waitpid.
 * vantrel_bench_spawn_cycle CYCLES PROGRAM ARGS... prints the median processor time of a cycle
 * in µs, the calling thread's own: what the started program does before it is ended is its own
 * time, however the kernel happens to share out one processor between the two. */
#include <signal.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>

extern char **environ;

static long long threadMicroseconds(void)
{
    struct timespec now;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

static int ascending(const void *a, const void *b)
{
    const long long x = *(const long long *)a;
    const long long y = *(const long long *)b;
    return (x > y) - (x < y);
}

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: vantrel_bench_spawn_cycle CYCLES PROGRAM ARGS...\n");
        return 2;
    }
    const int cycles = atoi(argv[1]);
    long long *times = calloc((size_t)cycles, sizeof *times);
    for (int i = 0; i < cycles; ++i) {
        const long long begin = threadMicroseconds();
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[2], NULL, NULL, argv + 2, environ) != 0) {
            fprintf(stderr, "cannot start %s\n", argv[2]);
            return 1;
        }
        kill(pid, SIGKILL);
        waitpid(pid, NULL, 0);
        times[i] = threadMicroseconds() - begin;
    }
    qsort(times, (size_t)cycles, sizeof *times, ascending);
    printf("%lld\n", times[cycles / 2]);
    free(times);
    return 0;
}
