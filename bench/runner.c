/* Starts a program COUNT times, one after the other, and prints one line per
 * run: "<wall ns> <peak RSS KiB> <exit code> <CPU ns>".
 *
 *   runner COUNT PROGRAM [ARG...]
 *
 * The clock runs from just before posix_spawnp to just after wait4, so a
 * figure holds the program's start, its work and its exit, and little else.
 * The peak RSS is the child's ru_maxrss from wait4. posix_spawn shares this
 * process's memory with the child until its exec, and Linux counts that
 * memory into the child's peak: the runner is linked statically and touches
 * little, so this floor stays far below any real program's figure (running
 * /bin/true through it shows the floor). The CPU time is the child's user
 * and system time, which waiting for a busy CPU does not lengthen. stdin is
 * /dev/null; the child's output is left as it is, or, when RUNNER_STDOUT
 * names a file, goes there (each run rewrites it). */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

static long long now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (long long)t.tv_sec * 1000000000LL + t.tv_nsec;
}

int main(int argc, char **argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: runner COUNT PROGRAM [ARG...]\n");
    return 2;
  }
  long count = strtol(argv[1], NULL, 10);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const char *out = getenv("RUNNER_STDOUT");
  if (out != NULL)
    posix_spawn_file_actions_addopen(&actions, 1, out, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  for (long i = 0; i < count; ++i) {
    pid_t pid;
    long long start = now_ns();
    int rc = posix_spawnp(&pid, argv[2], &actions, NULL, argv + 2, environ);
    if (rc != 0) {
      fprintf(stderr, "runner: cannot start %s: %s\n", argv[2], strerror(rc));
      return 127;
    }
    int status;
    struct rusage usage;
    while (wait4(pid, &status, 0, &usage) < 0) {
      if (errno != EINTR) {
        perror("runner: wait4");
        return 127;
      }
    }
    long long wall = now_ns() - start;
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    long long cpu = (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000000000LL +
                    (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1000LL;
    printf("%lld %ld %d %lld\n", wall, usage.ru_maxrss, code, cpu);
    fflush(stdout);
  }
  return 0;
}
