// The rows of the query result as text, between the fetch that fills them and
// the merge that reads them: at most kMaxRows rows of kMaxColumns cells, and
// at most kMaxResultBytes bytes of text in them.
#ifndef KELVORIN_QUERY_RESULT_TABLE_H_
#define KELVORIN_QUERY_RESULT_TABLE_H_

#include <cstddef>
#include <cstring>

namespace kelvorin {

constexpr int kMaxRows = 5000;
constexpr int kMaxColumns = 64;
// 64 columns of 65,535 bytes in 5000 rows would take 21 GB; a mail needs far
// less than this, and a host's machine has this much to spare.
constexpr std::size_t kMaxResultBytes = std::size_t{256} << 20;

class ResultTable {
 public:
  // With skip_spaces every cell is stored trimmed of spaces and tabs at both
  // ends (the SkipSpaces setting); the stored cells, each counted with its
  // NUL, take at most max_bytes.
  explicit ResultTable(bool skip_spaces, std::size_t max_bytes = kMaxResultBytes)
      : skip_spaces_(skip_spaces), max_bytes_(max_bytes) {}
  ~ResultTable();
  ResultTable(const ResultTable&) = delete;
  ResultTable& operator=(const ResultTable&) = delete;

  // Starts the next row of a result with result_columns columns. The first
  // row's count (at most kMaxColumns) is the number of cells kept per row.
  void BeginRow(int result_columns);

  // Stores a copy of text as the next cell of the row. Cells past kMaxColumns,
  // and every cell once kMaxRows rows are stored, are refused silently. False
  // when memory runs out or the copy would pass the table's byte cap (then
  // *too_large, when given, is set): nothing is stored then.
  [[nodiscard]] bool AddCell(const char* text, bool* too_large = nullptr) {
    return AddCell(text, std::strlen(text), too_large);
  }
  // The same for a text of length bytes, when the caller knows it.
  [[nodiscard]] bool AddCell(const char* text, std::size_t length, bool* too_large);

  // Completes the row; at kMaxRows stored rows it is dropped.
  void EndRow();

  // The number of cells added to the current row: after a fetch, the number
  // of result columns (also above kMaxColumns).
  int ColumnCount() const { return column_index_; }

  // The number of completed rows, 0 to kMaxRows.
  int RowCount() const { return row_count_; }

  // The text of a stored cell (owned by the table), or null for a column or
  // row outside what is stored; with length, its length in bytes goes there.
  const char* GetCell(int column, int row) const;
  const char* GetCell(int column, int row, std::size_t* length) const {
    if (column < 0 || column >= column_index_ || column >= stride_ || row < 0 ||
        row >= row_count_) {
      *length = 0;
      return nullptr;
    }
    const Cell& cell = cells_[row * stride_ + column];
    *length = cell.length;
    return cell.text;
  }

  // What the merge sizes its output by, and whether values need scanning:
  // the bytes of every cell stored in column (0-based), and whether any
  // stored cell holds a '%'.
  std::size_t ColumnBytes(int column) const;
  bool AnyPercent() const { return any_percent_; }

 private:
  struct Cell {
    const char* text;
    std::size_t length;
  };
  bool HasRoomForRow();
  char* Store(const char* text, std::size_t length);

  bool skip_spaces_;
  std::size_t max_bytes_;
  std::size_t bytes_ = 0;  // held by the stored cells
  Cell* cells_ = nullptr;  // rows of stride_ cells, row-major
  int stride_ = 0;
  int row_capacity_ = 0;
  int row_count_ = 0;
  int column_index_ = 0;
  int result_columns_ = 0;
  char* chunks_ = nullptr;  // the cells' texts, in chunks linked by their first bytes
  char* free_ = nullptr;    // the free room of the newest chunk
  std::size_t room_ = 0;
  std::size_t column_bytes_[kMaxColumns] = {};
  bool any_percent_ = false;
};

}  // namespace kelvorin

#endif  // KELVORIN_QUERY_RESULT_TABLE_H_
