/* The floors: what no merge program can avoid. It starts, connects to the data
 * source through ODBC, runs the query it is given (the recipient already put
 * in), fetches every row and exits. No INI, no log, no message to read:
 * whatever a merge program spends beyond this is its own cost.
 *
 *   kelvorin_floor DSN USER PASSWORD SQL           connect, query, fetch
 *   kelvorin_floor DSN USER PASSWORD SQL TARGET    ... and replace TARGET
 *                                                  durably with the rows
 *
 * With TARGET (the durable floor) the rows go, one line each with the cells
 * separated by tabs, to a temporary file beside TARGET, which is flushed to
 * the disk, renamed over TARGET, and the folder flushed: the least a merge
 * program must do so that a crash leaves either the old file or the new one.
 *
 * Exits 0 when at least one row came (and TARGET was replaced), 1 otherwise
 * (the reason on stderr), so a benchmark can tell a real run from a failed one.
 */
#include <fcntl.h>
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

/* Bound as text, as a merge program would need every value. A column gets
 * room for its display size in UTF-8 (4 bytes a character), at most
 * TEXT_AREA bytes, as Kelvorin's do: the SQLite driver pads every bound area
 * to its full length, so a floor with areas sized for the longest value (64
 * KiB for a TEXT column) would spend its time padding, which no merge program
 * needs. A longer value is read again whole with SQLGetData. */
#define MAX_COLUMNS 64
#define TEXT_AREA 512
#define LONGEST 65536

static SQLLEN AreaSize(SQLHSTMT statement, SQLUSMALLINT column) {
  SQLLEN display = 0;
  SQLColAttribute(statement, column, SQL_DESC_DISPLAY_SIZE, NULL, 0, NULL, &display);
  if (display <= 0 || display >= TEXT_AREA / 4) return TEXT_AREA;
  return display * 4 + 1;
}

static SQLCHAR* Text(const char* text) {
  return (SQLCHAR*)text;
}

static void PrintDiagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  SQLCHAR state[6], message[SQL_MAX_MESSAGE_LENGTH + 1];
  SQLINTEGER native;
  SQLSMALLINT length;
  for (SQLSMALLINT i = 1; SQL_SUCCEEDED(
           SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length));
       ++i) {
    fprintf(stderr, "%s %s\n", (char*)state, (char*)message);
  }
}

/* Writes a row, reading a value that did not fit its area again whole. */
static void WriteRow(SQLHSTMT statement, FILE* out, char areas[][TEXT_AREA], const SQLLEN* sizes,
                     const SQLLEN* indicators, int columns) {
  static char whole[LONGEST];
  for (int c = 0; c < columns; ++c) {
    if (c > 0) putc('\t', out);
    if (indicators[c] == SQL_NULL_DATA) continue;
    SQLLEN length = 0;
    if (indicators[c] == SQL_NO_TOTAL || indicators[c] >= sizes[c]) {
      SQLGetData(statement, (SQLUSMALLINT)(c + 1), SQL_C_CHAR, whole, LONGEST, &length);
      fputs(whole, out);
    } else {
      fputs(areas[c], out);
    }
  }
  fputs("\r\n", out);
}

/* Binds every column (at most MAX_COLUMNS) to one text area each and fetches
 * row after row, writing each to out when there is one. Returns the number of
 * rows, or -1 on an error. */
static long FetchAll(SQLHSTMT statement, FILE* out) {
  static char areas[MAX_COLUMNS][TEXT_AREA];
  static SQLLEN sizes[MAX_COLUMNS], indicators[MAX_COLUMNS];
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(statement, &columns))) return -1;
  if (columns > MAX_COLUMNS) columns = MAX_COLUMNS;
  for (SQLSMALLINT c = 0; c < columns; ++c) {
    SQLUSMALLINT column = (SQLUSMALLINT)(c + 1);
    sizes[c] = AreaSize(statement, column);
    SQLBindCol(statement, column, SQL_C_CHAR, areas[c], sizes[c], &indicators[c]);
  }
  long rows = 0;
  SQLRETURN rc;
  while (SQL_SUCCEEDED(rc = SQLFetch(statement))) {
    if (out) WriteRow(statement, out, areas, sizes, indicators, columns);
    ++rows;
  }
  return rc == SQL_NO_DATA ? rows : -1;
}

/* The temporary file beside target: "<folder>/.<name>.floor-XXXXXX". */
static FILE* CreateTemp(const char* target, char* temp, size_t cap) {
  const char* slash = strrchr(target, '/');
  int folder = slash ? (int)(slash - target + 1) : 0;
  if (snprintf(temp, cap, "%.*s.%s.floor-XXXXXX", folder, target, target + folder) >= (int)cap)
    return NULL;
  int fd = mkstemp(temp);
  return fd < 0 ? NULL : fdopen(fd, "w");
}

/* Flushes out to the disk, renames it over target and flushes the folder. */
static int Replace(FILE* out, const char* temp, const char* target) {
  int ok = fflush(out) == 0 && fsync(fileno(out)) == 0;
  ok = fclose(out) == 0 && ok && rename(temp, target) == 0;
  if (!ok) {
    unlink(temp);
    return 0;
  }
  char folder[4096];
  const char* slash = strrchr(target, '/');
  snprintf(folder, sizeof folder, "%.*s", slash ? (int)(slash - target) + 1 : 1,
           slash ? target : ".");
  int fd = open(folder, O_RDONLY | O_DIRECTORY);
  ok = fd >= 0 && fsync(fd) == 0;
  if (fd >= 0) close(fd);
  return ok;
}

/* Connects, runs sql and fetches its rows into out (or nowhere). */
static long Query(char** argv, FILE* out) {
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLHSTMT statement = SQL_NULL_HSTMT;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment);
  SQLSetEnvAttr(environment, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, SQL_IS_INTEGER);
  SQLAllocHandle(SQL_HANDLE_DBC, environment, &connection);
  long rows = -1;
  if (!SQL_SUCCEEDED(SQLConnect(connection, Text(argv[1]), SQL_NTS, Text(argv[2]), SQL_NTS,
                                Text(argv[3]), SQL_NTS))) {
    PrintDiagnostics(SQL_HANDLE_DBC, connection);
  } else {
    SQLAllocHandle(SQL_HANDLE_STMT, connection, &statement);
    if (SQL_SUCCEEDED(SQLExecDirect(statement, Text(argv[4]), SQL_NTS)))
      rows = FetchAll(statement, out);
    if (rows < 0) PrintDiagnostics(SQL_HANDLE_STMT, statement);
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    /* A clean goodbye: a server should not see every run as a dropped client. */
    SQLDisconnect(connection);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, connection);
  SQLFreeHandle(SQL_HANDLE_ENV, environment);
  return rows;
}

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    fputs("usage: kelvorin_floor DSN USER PASSWORD SQL [TARGET]\n", stderr);
    return 2;
  }
  char temp[4096];
  FILE* out = NULL;
  if (argc == 6 && (out = CreateTemp(argv[5], temp, sizeof temp)) == NULL) {
    perror("kelvorin_floor: temporary file");
    return 1;
  }
  long rows = Query(argv, out);
  if (out && rows > 0 && !Replace(out, temp, argv[5])) {
    perror("kelvorin_floor: replacing the target");
    return 1;
  }
  if (out && rows <= 0) {
    fclose(out);
    unlink(temp);
  }
  return rows > 0 ? 0 : 1;
}
