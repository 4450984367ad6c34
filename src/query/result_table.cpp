#include "result_table.h"

#include <cstring>

#include "platform.h"

namespace kelvorin {
namespace {

// Rows are laid out as needed, doubling: a run of three rows takes three rows
// of memory, not the 2.5 MB of the largest result.
constexpr int kFirstRows = 8;

bool IsSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
}

// The part of text that is stored: all of it, or without the spaces and tabs
// at both ends when trim is set.
struct Span {
  const char* start;
  std::size_t length;
};

Span Stored(const char* text, bool trim) {
  if (trim) {
    while (IsSpaceOrTab(*text)) ++text;
  }
  std::size_t len = std::strlen(text);
  if (trim) {
    while (len > 0 && IsSpaceOrTab(text[len - 1])) --len;
  }
  return {text, len};
}

// A NUL-terminated heap copy of span, or null without memory.
char* Copy(Span span) {
  char* copy = static_cast<char*>(platform::Allocate(span.length + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, span.start, span.length);
  copy[span.length] = '\0';
  return copy;
}

}  // namespace

ResultTable::~ResultTable() {
  for (long i = 0; i < static_cast<long>(row_capacity_) * kMaxColumns; ++i) {
    platform::Release(cells_[i]);
  }
  platform::Release(cells_);
}

bool ResultTable::HasRoomForRow() {
  if (row_count_ < row_capacity_) return true;
  int rows = row_capacity_ ? row_capacity_ * 2 : kFirstRows;
  if (rows > kMaxRows) rows = kMaxRows;
  std::size_t bytes = sizeof(char*) * kMaxColumns * static_cast<std::size_t>(rows);
  char** grown = static_cast<char**>(platform::Reallocate(cells_, bytes));
  if (grown == nullptr) return false;
  std::size_t old = sizeof(char*) * kMaxColumns * static_cast<std::size_t>(row_capacity_);
  std::memset(reinterpret_cast<char*>(grown) + old, 0, bytes - old);
  cells_ = grown;
  row_capacity_ = rows;
  return true;
}

void ResultTable::BeginRow(int result_columns) {
  column_index_ = 0;
  result_columns_ = result_columns;
}

bool ResultTable::AddCell(const char* text, bool* too_large) {
  if (column_index_ >= kMaxColumns || row_count_ >= kMaxRows) {
    column_index_ = result_columns_;
    return true;
  }
  Span span = Stored(text, skip_spaces_);
  if (span.length + 1 > max_bytes_ - bytes_) {
    if (too_large != nullptr) *too_large = true;
    return false;
  }
  if (!HasRoomForRow()) return false;
  char* copy = Copy(span);
  if (copy == nullptr) return false;
  cells_[row_count_ * kMaxColumns + column_index_++] = copy;
  bytes_ += span.length + 1;
  return true;
}

void ResultTable::EndRow() {
  if (row_count_ < kMaxRows) ++row_count_;
}

const char* ResultTable::GetCell(int column, int row) const {
  if (column < 0 || column >= column_index_ || column >= kMaxColumns) return nullptr;
  if (row < 0 || row >= row_count_) return nullptr;
  return cells_[row * kMaxColumns + column];
}

}  // namespace kelvorin
