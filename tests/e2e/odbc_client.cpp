#include "odbc_client.h"

#include <cstdio>
#include <cstdlib>

namespace e2e {
namespace {

SQLCHAR* Text(const std::string& s) {
  return reinterpret_cast<SQLCHAR*>(const_cast<char*>(s.c_str()));
}

// The diagnostic records of handle, one line each. Never empty, so that a
// failure cannot pass for the empty string that means success.
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  SQLCHAR state[6], message[SQL_MAX_MESSAGE_LENGTH + 1];
  SQLINTEGER native;
  SQLSMALLINT length;
  for (SQLSMALLINT i = 1; SQL_SUCCEEDED(
           SQLGetDiagRec(type, handle, i, state, &native, message, sizeof message, &length));
       ++i) {
    text +=
        std::string(reinterpret_cast<char*>(state)) + " " + reinterpret_cast<char*>(message) + "\n";
  }
  return text.empty() ? "failed without diagnostics\n" : text;
}

// One column of the current row as text, nullopt for NULL or when nothing of
// it could be read. Values longer than the buffer come in several pieces.
std::optional<std::string> Cell(SQLHSTMT statement, SQLUSMALLINT column) {
  std::string value;
  char piece[4096];
  SQLLEN length = 0;
  for (bool first = true;; first = false) {
    SQLRETURN rc = SQLGetData(statement, column, SQL_C_CHAR, piece, sizeof piece, &length);
    if (!SQL_SUCCEEDED(rc)) return first ? std::nullopt : std::optional<std::string>(value);
    if (length == SQL_NULL_DATA) return std::nullopt;
    const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                      (length == SQL_NO_TOTAL || length >= static_cast<SQLLEN>(sizeof piece));
    value += more ? std::string(piece, sizeof piece - 1) : std::string(piece);
    if (!more) return value;
  }
}

// Appends the rows of the statement's current result, if it has one.
void FetchAll(SQLHSTMT statement, std::vector<std::string>* rows) {
  SQLSMALLINT columns = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(statement, &columns)) || columns <= 0) return;
  while (SQL_SUCCEEDED(SQLFetch(statement))) {
    std::string row;
    for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(columns); ++c) {
      row += (c > 1 ? "|" : "") + Cell(statement, c).value_or("<null>");
    }
    rows->push_back(row);
  }
}

}  // namespace

std::string Hex(const std::string& bytes) {
  std::string hex;
  char pair[3];
  for (unsigned char b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    hex += pair;
  }
  return hex;
}

Database::~Database() {
  if (connection_ != SQL_NULL_HDBC) {
    SQLDisconnect(connection_);
    SQLFreeHandle(SQL_HANDLE_DBC, connection_);
  }
  if (environment_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, environment_);
}

std::string Database::Connect(const std::string& dsn) {
  return ConnectWith("DSN=" + dsn);
}

std::string Database::ConnectWith(const std::string& connection_string) {
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &environment_))) {
    return "no ODBC environment";
  }
  SQLSetEnvAttr(environment_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, environment_, &connection_);
  SQLRETURN rc = SQLDriverConnect(connection_, nullptr, Text(connection_string), SQL_NTS, nullptr,
                                  0, nullptr, SQL_DRIVER_NOPROMPT);
  return SQL_SUCCEEDED(rc) ? "" : Diagnostics(SQL_HANDLE_DBC, connection_);
}

std::string Database::DbmsName() {
  char name[128] = {};
  SQLGetInfo(connection_, SQL_DBMS_NAME, name, sizeof name, nullptr);
  return name;
}

std::string Database::Execute(const std::string& sql) {
  std::string error;
  Rows(sql, &error);
  return error;
}

std::optional<std::vector<std::string>> Database::Rows(const std::string& sql, std::string* error) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection_, &statement))) {
    // Not connected: the connection holds the reason.
    if (error != nullptr) *error = Diagnostics(SQL_HANDLE_DBC, connection_);
    return std::nullopt;
  }
  SQLRETURN rc = SQLExecDirect(statement, Text(sql), SQL_NTS);
  std::vector<std::string> rows;
  // SQL_NO_DATA: a statement that touched no row.
  while (SQL_SUCCEEDED(rc)) {
    FetchAll(statement, &rows);
    rc = SQLMoreResults(statement);
  }
  const bool ok = rc == SQL_NO_DATA;
  std::string diagnostics = ok ? "" : Diagnostics(SQL_HANDLE_STMT, statement);
  SQLFreeHandle(SQL_HANDLE_STMT, statement);
  if (error != nullptr) *error = diagnostics;
  if (!ok) return std::nullopt;
  return rows;
}

std::optional<std::string> Database::Value(const std::string& sql) {
  SQLHSTMT statement = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, connection_, &statement))) {
    return std::nullopt;
  }
  std::optional<std::string> value;
  if (SQL_SUCCEEDED(SQLExecDirect(statement, Text(sql), SQL_NTS)) &&
      SQL_SUCCEEDED(SQLFetch(statement))) {
    value = Cell(statement, 1);
  }
  SQLFreeHandle(SQL_HANDLE_STMT, statement);
  return value;
}

void SourceTest::SetUp() {
  ASSERT_NO_FATAL_FAILURE(E2e::SetUp());
  const char* dsn = std::getenv("KELVORIN_DSN");
  ASSERT_TRUE(dsn != nullptr && *dsn != '\0') << "set KELVORIN_DSN (and ODBCINI)";
  dsn_ = dsn;
  ASSERT_EQ(db_.Connect(dsn_), "") << "cannot connect to " << dsn_;
}

}  // namespace e2e
