// The rows of the query result as text, between the fetch that fills them and
// the merge that reads them: at most kMaxRows rows of kMaxColumns cells.
#ifndef KELVORIN_QUERY_RESULT_TABLE_H_
#define KELVORIN_QUERY_RESULT_TABLE_H_

namespace kelvorin {

constexpr int kMaxRows = 5000;
constexpr int kMaxColumns = 64;

// Starts a new result: the row count becomes 0.
void ResetRows();

// Starts the next row of a result with result_columns columns.
void BeginRow(int result_columns);

// Stores a copy of text as the next cell of the row, trimmed of spaces and
// tabs at both ends when SkipSpaces is on. Cells past kMaxColumns, and every
// cell once kMaxRows rows are stored, are refused silently. Returns 0 only
// when memory for the copy runs out: nothing is stored then, and the row's
// later cells still land in their own columns.
int AddCell(const char* text);

// Completes the row; at kMaxRows stored rows it is dropped.
void EndRow();

// The number of cells added to the current row: after a fetch, the number of
// result columns (also above kMaxColumns).
int ColumnCount();

// The number of completed rows, 0 to kMaxRows.
int RowCount();

// The text of a stored cell (owned by the table), or null for a column or row
// outside what is stored.
const char* GetCell(int column, int row);

// Frees every cell and empties the table, for a process that fills it more
// than once (tests); a run fills it once and leaves it to the process's end.
void ClearResultTable();

}  // namespace kelvorin

#endif  // KELVORIN_QUERY_RESULT_TABLE_H_
