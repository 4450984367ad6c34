#include "result_table.h"

#include <cstring>

#include "platform.h"

namespace kelvorin {
namespace {

// Rows are laid out as needed, doubling, each as wide as the result: a run
// of three rows takes three rows of memory, not the room of the largest
// result.
constexpr int kFirstRows = 8;
// The texts go into chunks of this size, a text larger than a quarter of one
// into a chunk of its own: a heap block per cell would cost an allocation
// and its bookkeeping for every one of up to 320,000 short values.
constexpr std::size_t kChunk = 64 * 1024;

bool IsSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

ResultTable::~ResultTable() {
  while (chunks_ != nullptr) {
    char* next;
    std::memcpy(&next, chunks_, sizeof next);
    platform::Release(chunks_);
    chunks_ = next;
  }
  platform::Release(cells_);
}

bool ResultTable::HasRoomForRow() {
  if (row_count_ < row_capacity_) return true;
  if (row_capacity_ == 0) {
    stride_ = result_columns_ < 1             ? 1
              : result_columns_ < kMaxColumns ? result_columns_
                                              : kMaxColumns;
  }
  int rows = row_capacity_ ? row_capacity_ * 2 : kFirstRows;
  if (rows > kMaxRows) rows = kMaxRows;
  std::size_t cells = static_cast<std::size_t>(stride_) * static_cast<std::size_t>(rows);
  Cell* grown = static_cast<Cell*>(platform::Reallocate(cells_, sizeof(Cell) * cells));
  if (grown == nullptr) return false;
  const std::size_t old =
      static_cast<std::size_t>(stride_) * static_cast<std::size_t>(row_capacity_);
  std::memset(static_cast<void*>(grown + old), 0, sizeof(Cell) * (cells - old));  // no cell: null
  cells_ = grown;
  row_capacity_ = rows;
  return true;
}

// A copy of the length bytes at text with a NUL behind them, in the chunks;
// null when memory runs out.
char* ResultTable::Store(const char* text, std::size_t length) {
  const std::size_t need = length + 1;
  char* copy = free_;
  if (need > room_) {
    const bool own = need > kChunk / 4;
    char* chunk = static_cast<char*>(platform::Allocate(sizeof chunks_ + (own ? need : kChunk)));
    if (chunk == nullptr) return nullptr;
    std::memcpy(chunk, &chunks_, sizeof chunks_);
    chunks_ = chunk;
    copy = chunk + sizeof chunks_;
    if (!own) {
      free_ = copy;
      room_ = kChunk;
    }
  }
  std::memcpy(copy, text, length);
  copy[length] = '\0';
  if (copy == free_) {
    free_ += need;
    room_ -= need;
  }
  return copy;
}

void ResultTable::BeginRow(int result_columns) {
  column_index_ = 0;
  result_columns_ = result_columns;
}

bool ResultTable::AddCell(const char* text, std::size_t len, bool* too_large) {
  if (column_index_ >= kMaxColumns || row_count_ >= kMaxRows ||
      (row_capacity_ > 0 && column_index_ >= stride_)) {
    column_index_ = result_columns_;
    return true;
  }
  if (skip_spaces_) {
    while (len > 0 && IsSpaceOrTab(*text)) ++text, --len;
    while (len > 0 && IsSpaceOrTab(text[len - 1])) --len;
  }
  if (len + 1 > max_bytes_ - bytes_) {
    if (too_large != nullptr) *too_large = true;
    return false;
  }
  if (!HasRoomForRow()) return false;
  char* copy = Store(text, len);
  if (copy == nullptr) return false;
  bytes_ += len + 1;
  any_percent_ = any_percent_ || std::memchr(copy, '%', len) != nullptr;
  column_bytes_[column_index_] += len;
  cells_[row_count_ * stride_ + column_index_++] = {copy, len};
  return true;
}

void ResultTable::EndRow() {
  if (row_count_ < kMaxRows) ++row_count_;
}

const char* ResultTable::GetCell(int column, int row) const {
  std::size_t length;
  return GetCell(column, row, &length);
}

std::size_t ResultTable::ColumnBytes(int column) const {
  return column >= 0 && column < kMaxColumns ? column_bytes_[column] : 0;
}

}  // namespace kelvorin
