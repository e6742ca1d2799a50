/* Runs a command and writes its wall time and peak resident memory to a file:
 *
 *     peak-rss OUTPUT COMMAND [ARGS...]
 *
 * OUTPUT gets one line "SECONDS PEAK_KIB CPU_SECONDS": wall time, ru_maxrss of the waited-for
 * child (the process's VmHWM at its end) and its processor time, user and system. The exit
 * status is the command's, or 128 + signal. */
#define _GNU_SOURCE
#include <errno.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: peak-rss OUTPUT COMMAND [ARGS...]\n");
        return 2;
    }
    const double start = now();
    const pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 2;
    }
    if (child == 0) {
        execvp(argv[2], argv + 2);
        fprintf(stderr, "peak-rss: %s: %s\n", argv[2], strerror(errno));
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    pid_t done;
    while ((done = wait4(child, &status, 0, &usage)) < 0 && errno == EINTR) {
    }
    const double end = now();
    if (done < 0) {
        perror("wait4");
        return 2;
    }
    FILE* out = fopen(argv[1], "w");
    if (out == NULL) {
        perror(argv[1]);
        return 2;
    }
    const double cpu = (double)usage.ru_utime.tv_sec + (double)usage.ru_utime.tv_usec / 1e6 +
                       (double)usage.ru_stime.tv_sec + (double)usage.ru_stime.tv_usec / 1e6;
    fprintf(out, "%.3f %ld %.3f\n", end - start, usage.ru_maxrss, cpu);
    if (fclose(out) != 0) {
        perror(argv[1]);
        return 2;
    }
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}
