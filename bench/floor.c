/* The floor: what no merge program can avoid. It starts, connects to the data
 * source through ODBC, runs the query it is given (the recipient already put
 * in), fetches every row and exits. No INI, no log, no message file: whatever
 * a merge program spends beyond this is its own cost.
 *
 *   kelvorin_floor DSN USER PASSWORD SQL
 *
 * Exits 0 when at least one row came, 1 otherwise (the driver's diagnostics
 * on stderr), so a benchmark can tell a real run from a failed one.
 */
#include <sql.h>
#include <sqlext.h>
#include <stdio.h>
#include <stdlib.h>

/* Bound as text, as a merge program would need every value. A column gets
 * room for its display size in UTF-8 (4 bytes a character), or 64 KiB, the
 * largest value Kelvorin accepts, when the driver knows no size. No bigger:
 * the SQLite driver pads every bound area to its full length, so a floor with
 * 64 KiB areas would spend its time padding, which no merge program needs. */
#define MAX_COLUMNS 64
#define DATA_AREA 65536

static SQLLEN AreaSize(SQLHSTMT statement, SQLUSMALLINT column) {
  SQLLEN display = 0;
  SQLColAttribute(statement, column, SQL_DESC_DISPLAY_SIZE, NULL, 0, NULL, &display);
  if (display <= 0 || display >= DATA_AREA / 4) return DATA_AREA;
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

/* Binds every column (at most MAX_COLUMNS) to one text area each and fetches
 * row after row. Returns the number of rows, or -1 on an error. */
static long FetchAll(SQLHSTMT statement) {
  static char areas[MAX_COLUMNS][DATA_AREA];
  static SQLLEN indicators[MAX_COLUMNS];
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(statement, &columns))) return -1;
  if (columns > MAX_COLUMNS) columns = MAX_COLUMNS;
  for (SQLSMALLINT c = 0; c < columns; ++c) {
    SQLUSMALLINT column = (SQLUSMALLINT)(c + 1);
    SQLBindCol(statement, column, SQL_C_CHAR, areas[c], AreaSize(statement, column),
               &indicators[c]);
  }
  long rows = 0;
  SQLRETURN rc;
  while (SQL_SUCCEEDED(rc = SQLFetch(statement))) ++rows;
  return rc == SQL_NO_DATA ? rows : -1;
}

int main(int argc, char** argv) {
  if (argc != 5) {
    fputs("usage: kelvorin_floor DSN USER PASSWORD SQL\n", stderr);
    return 2;
  }
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
    if (SQL_SUCCEEDED(SQLExecDirect(statement, Text(argv[4]), SQL_NTS))) rows = FetchAll(statement);
    if (rows < 0) PrintDiagnostics(SQL_HANDLE_STMT, statement);
    SQLFreeHandle(SQL_HANDLE_STMT, statement);
    /* A clean goodbye: a server should not see every run as a dropped client. */
    SQLDisconnect(connection);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, connection);
  SQLFreeHandle(SQL_HANDLE_ENV, environment);
  return rows > 0 ? 0 : 1;
}
