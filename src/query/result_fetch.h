// Turns the result set of the executed statement into rows of text in the
// result table.
#ifndef KELVORIN_QUERY_RESULT_FETCH_H_
#define KELVORIN_QUERY_RESULT_FETCH_H_

#include <cstddef>

#include "odbc_api.h"

namespace kelvorin {

// One result column: as described by the driver, and where it is bound.
struct ColumnInfo {
  SQLCHAR name[129];
  SQLSMALLINT name_length;
  SQLSMALLINT sql_type;
  SQLULEN size;  // as described; after the mapping, the bytes of its data area
  SQLSMALLINT decimal_digits;
  SQLSMALLINT nullable;
  SQLSMALLINT bound_type;  // SQL_C_SBIGINT, SQL_C_DOUBLE or SQL_C_CHAR
  std::size_t data_offset;
  std::size_t indicator_offset;
};

// The working record of one fetch: one row buffer, bound row-wise.
struct RowBinding {
  SQLSMALLINT column_count = 0;
  SQLULEN rows_per_fetch = 1;
  std::size_t row_size = 0;
  ColumnInfo* columns = nullptr;        // owned
  unsigned char* row_buffer = nullptr;  // owned
  char* long_value = nullptr;           // owned: a value longer than its area
};

// Bytes of the data area for a column of sql_type with the described size
// (character sizes are in characters; display_size is asked only for types
// without a size of their own). Always a multiple of 4, at most 65536.
SQLULEN DataAreaSize(SQLSMALLINT sql_type, SQLULEN size, SQLLEN display_size);

// Fetches every row of statement into the result table. Returns the number of
// result columns when the whole result was read and at least one row came;
// 0 after logging why (no columns, no rows, a driver error or warning on any
// row, no memory), and no partial result is to be merged then.
int FetchResults(SQLHSTMT statement);

}  // namespace kelvorin

#endif  // KELVORIN_QUERY_RESULT_FETCH_H_
