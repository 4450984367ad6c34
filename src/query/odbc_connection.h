// The run's one connection to the database, and the one check through which
// every ODBC return code passes and every diagnostic reaches the run log.
#ifndef KELVORIN_QUERY_ODBC_CONNECTION_H_
#define KELVORIN_QUERY_ODBC_CONNECTION_H_

#include "failure.h"
#include "odbc_api.h"

namespace kelvorin {

// The environment, connection and statement handles of a run; its fields are
// the connection module's own.
struct OdbcHandles;

// Connects to the data source and executes query, which may take up to
// query_timeout seconds (0: no limit). An empty username or password leaves
// the data source's own in force. True with *out the handles, whose
// statement's result stays open until CloseQuery; false with why in
// *failure, with nothing held.
[[nodiscard]] bool OpenQuery(const char* source, const char* username, const char* password,
                             int query_timeout, const char* query, OdbcHandles** out,
                             StepFailure* failure);

// Executes query on the connection that handles hold, the statement's earlier
// result closed first. False with why in *failure; the handles stay held.
[[nodiscard]] bool ExecuteAgain(OdbcHandles* handles, const char* query, StepFailure* failure);

// Closes the statement's result once its rows are read: psqlODBC and the
// SQLite driver hold the whole result in memory until then, and the merge
// needs its own room. A failure is only logged.
void CloseResult(OdbcHandles* handles);

// The statement that OpenQuery executed.
SQLHSTMT StatementOf(const OdbcHandles* handles);

// Releases the statement, the connection and the environment, and the
// handles themselves. Null is ignored.
void CloseQuery(OdbcHandles* handles);

// Which return codes of an ODBC call let the run go on.
enum class Passes {
  kAllButError,    // only SQL_ERROR fails (warnings are normal with many drivers)
  kSuccessOrInfo,  // SQL_SUCCESS and SQL_SUCCESS_WITH_INFO pass
  kSuccessOnly,    // a warning fails too: it may mean a value was cut
};

// True when rc passes; otherwise the diagnostics of handle (unless it is null)
// go to the log, three lines per record, and *failure gets Failure::kSql
// with the first record's state.
[[nodiscard]] bool CheckOdbc(SQLRETURN rc, Passes passes, SQLSMALLINT handle_type, SQLHANDLE handle,
                             StepFailure* failure);

}  // namespace kelvorin

#endif  // KELVORIN_QUERY_ODBC_CONNECTION_H_
