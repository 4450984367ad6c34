// Turns the result set of the executed statement into rows of text in the
// result table.
#ifndef KELVORIN_QUERY_RESULT_FETCH_H_
#define KELVORIN_QUERY_RESULT_FETCH_H_

#include "failure.h"
#include "odbc_api.h"
#include "result_table.h"

namespace kelvorin {

// Bytes of the data area bound for a column of sql_type with the described
// size (character sizes are in characters, NUMERIC sizes in digits;
// display_size is asked only for types without a size of their own). Always
// a multiple of 4: exact for NUMERIC and DECIMAL (at most 65536), at most
// 512 for text, whose longer values are read again whole.
SQLULEN DataAreaSize(SQLSMALLINT sql_type, SQLULEN size, SQLLEN display_size);

// Fetches every row of statement into table. True when the whole result was
// read and at least one row came; false with why in *failure (no columns, no
// rows, a driver error or warning on any row, a value over 65,535 bytes, no
// memory): no partial result is to be merged then.
[[nodiscard]] bool FetchResults(SQLHSTMT statement, ResultTable* table, StepFailure* failure);

}  // namespace kelvorin

#endif  // KELVORIN_QUERY_RESULT_FETCH_H_
