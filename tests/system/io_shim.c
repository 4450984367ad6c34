/* An LD_PRELOAD shim that disturbs the program's calls as a full disk, a lost device or a driver
 * would. KELVORIN_FAULT=op:nth:action:errno:glob  op: write, fsync, rename, move (renameat2: the
 * quarantine's moves) on a path matching the fnmatch(3) glob (for rename and move, the old name),
 * or fetch; nth: the matching call to disturb, from 1; action: fail (that call and every later one
 * with errno), short (that write takes half its bytes, as one a signal interrupts), kill, warn (a
 * successful fetch returns a driver's warning, its state the glob) or hide (a fetch's warning goes
 * unsaid, as MariaDB's driver leaves out 01004 for a value that fills its area exactly). */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fnmatch.h>
#include <signal.h>
#include <sql.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static char op[8], action[8], match[512] = "*";
static long nth, calls;          /* calls: matching calls of op so far */
static int error_number, warned; /* warned: the last SQLFetch was made to warn */

__attribute__((constructor)) static void ReadPlan(void) {
  const char* plan = getenv("KELVORIN_FAULT");
  if (plan == NULL ||
      sscanf(plan, "%7[a-z]:%ld:%7[a-z]:%d:%511s", op, &nth, action, &error_number, match) < 4)
    op[0] = '\0';
}

/* Counts a call of name on path (null: fd's file); from the nth on, kills or sets errno. */
static int Fails(const char* name, const char* path, int fd) {
  char link[64], target[4096] = "";
  if (strcmp(name, op) != 0) return 0;
  if (path == NULL) {
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    path = readlink(link, target, sizeof target - 1) > 0 ? target : "";
  }
  if (fnmatch(match, path, 0) != 0 || ++calls < nth) return 0;
  if (strcmp(action, "kill") == 0) raise(SIGKILL);
  errno = error_number;
  return 1;
}

#define REAL(name) ((__typeof__(&name))dlsym(RTLD_NEXT, #name))

ssize_t write(int fd, const void* data, size_t n) {
  if (!Fails("write", NULL, fd)) return REAL(write)(fd, data, n);
  if (strcmp(action, "short") == 0) return REAL(write)(fd, data, calls == nth && n > 1 ? n / 2 : n);
  return -1;
}

int fsync(int fd) {
  return Fails("fsync", NULL, fd) ? -1 : REAL(fsync)(fd);
}

int rename(const char* from, const char* to) {
  return Fails("rename", from, -1) ? -1 : REAL(rename)(from, to);
}

int renameat2(int from_folder, const char* from, int to_folder, const char* to, unsigned flags) {
  return Fails("move", from, -1) ? -1 : REAL(renameat2)(from_folder, from, to_folder, to, flags);
}

SQLRETURN SQLFetch(SQLHSTMT statement) {
  SQLRETURN rc = REAL(SQLFetch)(statement);
  warned = SQL_SUCCEEDED(rc) && strcmp(op, "fetch") == 0 && ++calls == nth;
  if (warned && strcmp(action, "hide") == 0) return warned = 0, SQL_SUCCESS;
  return warned ? SQL_SUCCESS_WITH_INFO : rc;
}

SQLRETURN SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT record, SQLCHAR* state,
                        SQLINTEGER* native, SQLCHAR* text, SQLSMALLINT capacity, SQLSMALLINT* n) {
  if (!warned || type != SQL_HANDLE_STMT)
    return REAL(SQLGetDiagRec)(type, handle, record, state, native, text, capacity, n);
  if (record > 1) return SQL_NO_DATA;
  snprintf((char*)state, 6, "%.5s", match);
  *native = 0; /* the program passes both */
  *n = (SQLSMALLINT)snprintf((char*)text, text ? capacity : 0, "planted warning");
  return SQL_SUCCESS;
}
