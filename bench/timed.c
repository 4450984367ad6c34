/* kelvorin_timed PROGRAM [ARGS...]: runs the program, waits for it and prints
 * its wall time in microseconds on one line, as a host's queue sees one
 * message. Exits with the program's status (1 when it was killed, 127 when it
 * could not start). Many may share one output: each line is a single write,
 * shorter than the size that the system writes to a pipe or file at once. */
#include <spawn.h>
#include <stdio.h>
#include <sys/wait.h>
#include <time.h>

extern char** environ;

int main(int argc, char** argv) {
  struct timespec start, end;
  pid_t pid;
  int status = 0;
  if (argc < 2) {
    fprintf(stderr, "usage: kelvorin_timed PROGRAM [ARGS...]\n");
    return 2;
  }
  clock_gettime(CLOCK_MONOTONIC, &start);
  if (posix_spawn(&pid, argv[1], NULL, NULL, argv + 1, environ) != 0) return 127;
  if (waitpid(pid, &status, 0) != pid) return 127;
  clock_gettime(CLOCK_MONOTONIC, &end);
  printf("%ld\n", (long)(end.tv_sec - start.tv_sec) * 1000000L +
                      (long)(end.tv_nsec - start.tv_nsec) / 1000L);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
