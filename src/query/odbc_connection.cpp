#include "odbc_connection.h"

#include <cstdio>
#include <cstring>
#include <new>

#include "platform.h"
#include "run_log.h"

namespace kelvorin {

struct OdbcHandles {
  SQLHENV environment = SQL_NULL_HENV;
  SQLHDBC connection = SQL_NULL_HDBC;
  SQLHSTMT statement = SQL_NULL_HSTMT;
};

namespace {

constexpr unsigned kLoginTimeoutSeconds = 30;

SQLCHAR* Text(const char* text) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(text));
}

// An empty user name or password goes as no value at all, so the data
// source's own UID and PWD apply: MariaDB's driver takes "" as a name given
// and falls back to the login name of the process, root for a root host.
SQLCHAR* Credential(const char* text) {
  return text[0] ? Text(text) : nullptr;
}
SQLSMALLINT CredentialLength(const char* text) {
  return text[0] ? SQL_NTS : 0;
}

// Logs every diagnostic record of handle; the first one's state goes to
// first (6 bytes), left empty when there is none.
void ReportDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle, char* first) {
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handle_type, handle, record, state, &native, message,
                                 sizeof message, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return;
    if (record == 1) std::memcpy(first, state, sizeof state);
    char line[64];
    std::snprintf(line, sizeof line, "%ld", static_cast<long>(native));
    Log().WritePair(LineOf(Failure::kSql).text, reinterpret_cast<char*>(state));
    Log().WritePair(kSqlNativeLabel, line);
    Log().WritePair(kSqlMessageLabel, reinterpret_cast<char*>(message));
  }
}

// The environment (ODBC 3) and a connection handle with the login timeout.
// A handle that could not be made has no diagnostics: its own line says why.
bool AllocateHandles(OdbcHandles& h, StepFailure* failure) {
  StepFailure none;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.environment);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_ENV, SQL_NULL_HANDLE, &none)) {
    h.environment = SQL_NULL_HENV;
    return Fail(failure, Failure::kSqlInit);
  }
  rc = SQLSetEnvAttr(h.environment, SQL_ATTR_ODBC_VERSION,
                     reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), SQL_IS_INTEGER);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_ENV, h.environment, failure)) return false;
  rc = SQLAllocHandle(SQL_HANDLE_DBC, h.environment, &h.connection);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_ENV, SQL_NULL_HANDLE, &none)) {
    h.connection = SQL_NULL_HDBC;
    return Fail(failure, Failure::kSqlHandle);
  }
  // A server that takes the connection but never answers would hold the
  // host's queue forever; a refused login is reported like any other.
  rc = SQLSetConnectAttr(h.connection, SQL_ATTR_LOGIN_TIMEOUT,
                         reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kLoginTimeoutSeconds)),
                         0);
  return CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_DBC, h.connection, failure);
}

// The login timeout ends at the login: a server (or a pooler in front of one)
// that takes the query and never answers would hold the host's queue as
// well. Set on the statement, so that ExecuteAgain keeps it.
bool SetQueryTimeout(OdbcHandles& h, int seconds, StepFailure* failure) {
  SQLRETURN rc = SQLSetStmtAttr(h.statement, SQL_ATTR_QUERY_TIMEOUT,
                                reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(seconds)), 0);
  return CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, h.statement, failure);
}

bool ConnectAndExecute(OdbcHandles& h, const char* source, const char* username,
                       const char* password, int query_timeout, const char* query,
                       StepFailure* failure) {
  SQLRETURN rc =
      SQLConnect(h.connection, Text(source), SQL_NTS, Credential(username),
                 CredentialLength(username), Credential(password), CredentialLength(password));
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_DBC, h.connection, failure)) return false;
  rc = SQLAllocHandle(SQL_HANDLE_STMT, h.connection, &h.statement);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_DBC, h.connection, failure)) {
    h.statement = SQL_NULL_HSTMT;
    return false;
  }
  if (!SetQueryTimeout(h, query_timeout, failure)) return false;
  rc = SQLExecDirect(h.statement, Text(query), SQL_NTS);
  return CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, h.statement, failure);
}

}  // namespace

bool CheckOdbc(SQLRETURN rc, Passes passes, SQLSMALLINT handle_type, SQLHANDLE handle,
               StepFailure* failure) {
  bool passed = passes == Passes::kAllButError     ? rc != SQL_ERROR
                : passes == Passes::kSuccessOrInfo ? SQL_SUCCEEDED(rc)
                                                   : rc == SQL_SUCCESS;
  if (passed) return true;
  char state[6] = "";
  if (handle != SQL_NULL_HANDLE) ReportDiagnostics(handle_type, handle, state);
  return Fail(failure, Failure::kSql, state);
}

bool OpenQuery(const char* source, const char* username, const char* password, int query_timeout,
               const char* query, OdbcHandles** out, StepFailure* failure) {
  *out = nullptr;
  void* memory = platform::Allocate(sizeof(OdbcHandles));
  if (memory == nullptr) return Fail(failure, Failure::kOutOfMemory);
  OdbcHandles* h = new (memory) OdbcHandles;
  if (!AllocateHandles(*h, failure) ||
      !ConnectAndExecute(*h, source, username, password, query_timeout, query, failure)) {
    CloseQuery(h);
    return false;
  }
  *out = h;
  return true;
}

bool ExecuteAgain(OdbcHandles* handles, const char* query, StepFailure* failure) {
  SQLHSTMT statement = handles->statement;
  SQLRETURN rc = SQLFreeStmt(statement, SQL_CLOSE);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, statement, failure)) return false;
  rc = SQLExecDirect(statement, Text(query), SQL_NTS);
  return CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, statement, failure);
}

SQLHSTMT StatementOf(const OdbcHandles* handles) {
  return handles->statement;
}

void CloseResult(OdbcHandles* handles) {
  SQLHSTMT statement = handles->statement;
  StepFailure ignored;  // the rows are read: this fails no run
  (void)CheckOdbc(SQLFreeStmt(statement, SQL_CLOSE), Passes::kAllButError, SQL_HANDLE_STMT,
                  statement, &ignored);
}

// No return code is looked at: nothing is left that a failure could harm, and
// the disconnect of a connection that never came up fails by design.
void CloseQuery(OdbcHandles* h) {
  if (h == nullptr) return;
  if (h->statement != SQL_NULL_HSTMT) SQLFreeHandle(SQL_HANDLE_STMT, h->statement);
  if (h->connection != SQL_NULL_HDBC) {
    SQLDisconnect(h->connection);
    SQLFreeHandle(SQL_HANDLE_DBC, h->connection);
  }
  if (h->environment != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, h->environment);
  platform::Release(h);
}

}  // namespace kelvorin
