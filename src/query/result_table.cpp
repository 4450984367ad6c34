#include "result_table.h"

#include <cstring>

#include "platform.h"
#include "settings.h"

namespace kelvorin {
namespace {

// Fixed storage: 5000 x 64 pointers that never grow or move.
char* cells[kMaxRows][kMaxColumns];
int row_count = 0;
int column_index = 0;
int result_column_count = 0;
int rows_used = 0;  // rows that ever held a cell, for ClearResultTable

bool IsSpaceOrTab(char c) {
  return c == ' ' || c == '\t';
}

// A heap copy of text, trimmed at both ends when SkipSpaces is on.
char* TrimmedCopy(const char* text) {
  bool trim = g_settings.SkipSpaces != 0;
  if (trim) {
    while (IsSpaceOrTab(*text)) ++text;
  }
  std::size_t len = std::strlen(text);
  if (trim) {
    while (len > 0 && IsSpaceOrTab(text[len - 1])) --len;
  }
  char* copy = static_cast<char*>(platform::Allocate(len + 1));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, text, len);
  copy[len] = '\0';
  return copy;
}

}  // namespace

void ResetRows() {
  row_count = 0;
}

void BeginRow(int result_columns) {
  column_index = 0;
  result_column_count = result_columns;
}

int AddCell(const char* text) {
  if (column_index >= kMaxColumns || row_count >= kMaxRows) {
    column_index = result_column_count;
    return 1;
  }
  char* copy = TrimmedCopy(text);
  cells[row_count][column_index] = copy;  // null when no copy could be made
  if (row_count >= rows_used) rows_used = row_count + 1;
  ++column_index;
  return copy != nullptr ? 1 : 0;
}

void EndRow() {
  if (row_count < kMaxRows) ++row_count;
}

int ColumnCount() {
  return column_index;
}

int RowCount() {
  return row_count;
}

const char* GetCell(int column, int row) {
  if (column < 0 || column >= column_index || column >= kMaxColumns) return nullptr;
  if (row < 0 || row >= row_count) return nullptr;
  return cells[row][column];
}

void ClearResultTable() {
  for (int row = 0; row < rows_used; ++row) {
    for (char*& cell : cells[row]) {
      platform::Release(cell);
      cell = nullptr;
    }
  }
  rows_used = row_count = column_index = result_column_count = 0;
}

}  // namespace kelvorin
