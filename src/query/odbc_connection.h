// The run's one connection to the database, and the one path by which ODBC
// diagnostics reach the run log.
#ifndef KELVORIN_QUERY_ODBC_CONNECTION_H_
#define KELVORIN_QUERY_ODBC_CONNECTION_H_

#include "odbc_api.h"

namespace kelvorin {

// The handles of the run; each is null while not allocated.
struct OdbcHandles {
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLHSTMT statement = SQL_NULL_HSTMT;
};

extern OdbcHandles g_odbc;

// Connects to the data source and executes query. An empty username or
// password leaves the data source's own in force. Returns the statement, whose
// result stays open until CloseQuery; null after logging why, with every
// handle released.
SQLHSTMT OpenQuery(const char* source, const char* username, const char* password,
                   const char* query);

// Releases the statement, the connection and the environment, each if held.
// Harmless when nothing is open, and when called twice.
void CloseQuery();

// Logs every diagnostic record of handle: its SQL state, native error and
// message, three lines per record.
void ReportDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle);

// Which return codes of an ODBC call let the run go on.
enum class Passes {
  kAllButError,    // only SQL_ERROR fails (warnings are normal with many drivers)
  kSuccessOrInfo,  // SQL_SUCCESS and SQL_SUCCESS_WITH_INFO pass
  kSuccessOnly,    // a warning fails too: it may mean a value was cut
};

// The one check of every ODBC return code that matters: true when rc passes;
// otherwise the diagnostics of handle (unless it is null) go to the log.
bool CheckOdbc(SQLRETURN rc, Passes passes, SQLSMALLINT handle_type, SQLHANDLE handle);

}  // namespace kelvorin

#endif  // KELVORIN_QUERY_ODBC_CONNECTION_H_
