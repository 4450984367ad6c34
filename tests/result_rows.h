// Fills the result table for a test, as a fetch would.
#ifndef KELVORIN_TESTS_RESULT_ROWS_H_
#define KELVORIN_TESTS_RESULT_ROWS_H_

#include <string>
#include <vector>

#include "result_table.h"

namespace testing_support {

using Rows = std::vector<std::vector<std::string>>;

// Empties the table and stores rows, each with columns result columns
// (defaulting to the first row's width).
inline void FillTable(const Rows& rows, int columns = -1) {
  kelvorin::ClearResultTable();
  kelvorin::ResetRows();
  if (columns < 0) columns = rows.empty() ? 0 : static_cast<int>(rows[0].size());
  for (const auto& row : rows) {
    kelvorin::BeginRow(columns);
    for (const std::string& cell : row) kelvorin::AddCell(cell.c_str());
    kelvorin::EndRow();
  }
}

}  // namespace testing_support

#endif  // KELVORIN_TESTS_RESULT_ROWS_H_
