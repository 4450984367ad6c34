#include "odbc_connection.h"

#include <cstdio>

#include "run_log.h"

namespace kelvorin {
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

SQLHSTMT Fail() {
  CloseQuery();
  return SQL_NULL_HSTMT;
}

}  // namespace

OdbcHandles g_odbc;

void ReportDiagnostics(SQLSMALLINT handle_type, SQLHANDLE handle) {
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[SQL_MAX_MESSAGE_LENGTH + 1] = {};
    SQLSMALLINT length = 0;
    SQLRETURN rc = SQLGetDiagRec(handle_type, handle, record, state, &native, message,
                                 sizeof message, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return;
    char line[64];
    std::snprintf(line, sizeof line, "ERROR: SQL native error is %ld", static_cast<long>(native));
    g_run_log.WritePair("ERROR: SQL state -", reinterpret_cast<char*>(state));
    g_run_log.Write(line);
    g_run_log.WritePair("ERROR: SQL message -", reinterpret_cast<char*>(message));
  }
}

bool CheckOdbc(SQLRETURN rc, Passes passes, SQLSMALLINT handle_type, SQLHANDLE handle) {
  bool passed = passes == Passes::kAllButError     ? rc != SQL_ERROR
                : passes == Passes::kSuccessOrInfo ? SQL_SUCCEEDED(rc)
                                                   : rc == SQL_SUCCESS;
  if (!passed && handle != SQL_NULL_HANDLE) ReportDiagnostics(handle_type, handle);
  return passed;
}

SQLHSTMT OpenQuery(const char* source, const char* username, const char* password,
                   const char* query) {
  OdbcHandles& h = g_odbc;
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &h.environment);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_ENV, SQL_NULL_HANDLE)) {
    h.environment = SQL_NULL_HENV;
    g_run_log.Write("ERROR: can't initialize SQL");
    return Fail();
  }
  SQLSetEnvAttr(h.environment, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3),
                SQL_IS_INTEGER);
  rc = SQLAllocHandle(SQL_HANDLE_DBC, h.environment, &h.connection);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_ENV, SQL_NULL_HANDLE)) {
    h.connection = SQL_NULL_HDBC;
    g_run_log.Write("ERROR: can't allocate SQL handle");
    return Fail();
  }
  // A server that takes the connection but never answers would hold the
  // host's queue forever; a refused login is reported like any other.
  SQLSetConnectAttr(h.connection, SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kLoginTimeoutSeconds)), 0);
  rc = SQLConnect(h.connection, Text(source), SQL_NTS, Credential(username),
                  CredentialLength(username), Credential(password), CredentialLength(password));
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_DBC, h.connection)) return Fail();
  rc = SQLAllocHandle(SQL_HANDLE_STMT, h.connection, &h.statement);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_DBC, h.connection)) {
    h.statement = SQL_NULL_HSTMT;
    return Fail();
  }
  rc = SQLExecDirect(h.statement, Text(query), SQL_NTS);
  if (!CheckOdbc(rc, Passes::kAllButError, SQL_HANDLE_STMT, h.statement)) return Fail();
  return h.statement;
}

void CloseQuery() {
  OdbcHandles& h = g_odbc;
  if (h.statement != SQL_NULL_HSTMT) {
    SQLFreeHandle(SQL_HANDLE_STMT, h.statement);
    h.statement = SQL_NULL_HSTMT;
  }
  if (h.connection != SQL_NULL_HDBC) {
    SQLDisconnect(h.connection);
    SQLFreeHandle(SQL_HANDLE_DBC, h.connection);
    h.connection = SQL_NULL_HDBC;
  }
  if (h.environment != SQL_NULL_HENV) {
    SQLFreeHandle(SQL_HANDLE_ENV, h.environment);
    h.environment = SQL_NULL_HENV;
  }
}

}  // namespace kelvorin
