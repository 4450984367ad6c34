/* An LD_PRELOAD shim that makes the program's own file calls fail the way a
 * full disk, a lost device or a crash would, without root and without
 * touching the program. Only calls on paths that match a glob are counted, so
 * the log, the ODBC drivers and the loader go on as usual.
 *
 *   KELVORIN_FAULT_OP      write, fsync or rename: the call to disturb
 *   KELVORIN_FAULT_NTH     the first matching call to disturb (1 = the first)
 *   KELVORIN_FAULT_ACTION  fail  (default) that call and every later one fail
 *                          short that write writes half its bytes, later ones fail
 *                          kill  SIGKILL just before the call
 *                          kill-after  SIGKILL just after the call succeeded
 *   KELVORIN_FAULT_ERRNO   ENOSPC (default), EIO, EDQUOT or a number
 *   KELVORIN_FAULT_MATCH   fnmatch(3) glob for the file's path (for rename, the
 *                          old name); default the program's temporary files
 *   KELVORIN_FAULT_REPORT  a file that gets the line "op nth action" when the
 *                          fault fires, so a test can tell it was injected
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/syscall.h>
#include <unistd.h>

enum Action { kFail, kShort, kKill, kKillAfter };

struct Plan {
  char op[16];
  long nth;
  enum Action action;
  char action_name[16];
  int error;
  char match[512];
  char report[512];
};

static struct Plan plan;
static long calls; /* matching calls of plan.op so far */
static int armed;

static int ErrnoByName(const char* name) {
  if (name == NULL || *name == '\0' || strcmp(name, "ENOSPC") == 0) return ENOSPC;
  if (strcmp(name, "EIO") == 0) return EIO;
  if (strcmp(name, "EDQUOT") == 0) return EDQUOT;
  return atoi(name);
}

static enum Action ActionByName(const char* name) {
  if (strcmp(name, "short") == 0) return kShort;
  if (strcmp(name, "kill") == 0) return kKill;
  if (strcmp(name, "kill-after") == 0) return kKillAfter;
  return kFail;
}

static void CopyEnv(char* out, size_t cap, const char* name, const char* fallback) {
  const char* value = getenv(name);
  snprintf(out, cap, "%s", value != NULL ? value : fallback);
}

/* Read once, before main: the program never changes its environment. */
__attribute__((constructor)) static void ReadPlan(void) {
  const char* op = getenv("KELVORIN_FAULT_OP");
  if (op == NULL || *op == '\0') return;
  snprintf(plan.op, sizeof plan.op, "%s", op);
  const char* nth = getenv("KELVORIN_FAULT_NTH");
  plan.nth = nth != NULL ? atol(nth) : 1;
  CopyEnv(plan.action_name, sizeof plan.action_name, "KELVORIN_FAULT_ACTION", "fail");
  plan.action = ActionByName(plan.action_name);
  plan.error = ErrnoByName(getenv("KELVORIN_FAULT_ERRNO"));
  CopyEnv(plan.match, sizeof plan.match, "KELVORIN_FAULT_MATCH", "*.kelvorin-*");
  CopyEnv(plan.report, sizeof plan.report, "KELVORIN_FAULT_REPORT", "");
  armed = 1;
}

/* Appends "op nth action" to the report file with raw system calls, so that
 * reporting never runs into the shim itself. */
static void Report(void) {
  if (plan.report[0] == '\0') return;
  char line[96];
  int n = snprintf(line, sizeof line, "%s %ld %s\n", plan.op, calls, plan.action_name);
  int fd = (int)syscall(SYS_openat, AT_FDCWD, plan.report, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd < 0) return;
  if (syscall(SYS_write, fd, line, (size_t)n) < 0) {
    /* nothing to do: the test then sees no report and says so */
  }
  syscall(SYS_close, fd);
}

static int FdMatches(int fd) {
  char link[64], path[4096];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, path, sizeof path - 1);
  if (n <= 0) return 0;
  path[n] = '\0';
  return fnmatch(plan.match, path, 0) == 0;
}

/* Whether calls of op are to be disturbed at all (the path is checked next). */
static int Planned(const char* op) {
  return armed && strcmp(op, plan.op) == 0;
}

/* Counts a matching call; true once the plan's call is reached. */
static int Reached(void) {
  return ++calls >= plan.nth;
}

/* Before the real call: dies or fails as planned. Returns 1 to fail it. */
static int Before(void) {
  if (calls == plan.nth) Report();
  if (plan.action == kKill) raise(SIGKILL);
  if (plan.action == kKillAfter) return 0;
  return plan.action == kFail || calls > plan.nth;
}

static void After(void) {
  if (plan.action == kKillAfter && calls == plan.nth) raise(SIGKILL);
}

ssize_t write(int fd, const void* data, size_t n) {
  static ssize_t (*real)(int, const void*, size_t);
  if (real == NULL) real = (ssize_t(*)(int, const void*, size_t))dlsym(RTLD_NEXT, "write");
  if (!(Planned("write") && FdMatches(fd) && Reached())) return real(fd, data, n);
  if (Before()) {
    errno = plan.error;
    return -1;
  }
  /* A disk that fills up mid-write takes part of the bytes first. */
  ssize_t done = real(fd, data, plan.action == kShort && n > 1 ? n / 2 : n);
  After();
  return done;
}

int fsync(int fd) {
  static int (*real)(int);
  if (real == NULL) real = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
  if (!(Planned("fsync") && FdMatches(fd) && Reached())) return real(fd);
  if (Before()) {
    errno = plan.error;
    return -1;
  }
  int rc = real(fd);
  After();
  return rc;
}

int rename(const char* from, const char* to) {
  static int (*real)(const char*, const char*);
  if (real == NULL) real = (int (*)(const char*, const char*))dlsym(RTLD_NEXT, "rename");
  if (!(Planned("rename") && fnmatch(plan.match, from, 0) == 0 && Reached())) {
    return real(from, to);
  }
  if (Before()) {
    errno = plan.error;
    return -1;
  }
  int rc = real(from, to);
  After();
  return rc;
}
