// Turns the result set of the executed statement into rows of text in the
// result table.
#ifndef KELVORIN_QUERY_RESULT_FETCH_H_
#define KELVORIN_QUERY_RESULT_FETCH_H_

#include <cstddef>

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

// Room for any number's text: "%.2f" of the largest double takes 312 bytes.
constexpr std::size_t kNumberTextCapacity = 400;

// Writes value as printf's "%.2f" does in the C locale (its exact binary value
// rounded to hundredths, halves to even) into out, which holds at least
// kNumberTextCapacity bytes; returns the length, without a NUL.
std::size_t FormatHundredths(double value, char* out);

// Fetches every row of statement into table. True when the whole result was
// read and at least one row came; false with why in *failure (no columns, no
// rows, a driver error or warning on any row, a value over 65,535 bytes, no
// memory): no partial result is to be merged then.
[[nodiscard]] bool FetchResults(SQLHSTMT statement, ResultTable* table, StepFailure* failure);

}  // namespace kelvorin

#endif  // KELVORIN_QUERY_RESULT_FETCH_H_
