// Word-wrapping of one cell value between two margins.
#ifndef KELVORIN_MERGE_CELL_WRAP_H_
#define KELVORIN_MERGE_CELL_WRAP_H_

#include <cstddef>

#include "merge_buffer.h"

namespace kelvorin {

// Appends the words of the length bytes at cell (runs of bytes other than
// space, tab, CR and LF) to out, joined by single spaces and broken by a bare LF where a word would
// take the line past right; every line starts with left spaces when left is
// above 0. A word longer than the room stands alone and is never split. The
// cell itself is left as it is; a cell without words appends nothing.
void WrapCell(MergeBuffer& out, const char* cell, std::size_t length, int left, int right);

}  // namespace kelvorin

#endif  // KELVORIN_MERGE_CELL_WRAP_H_
