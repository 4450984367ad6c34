// The merge writer: rewrites the message file with the rows of the result
// table merged in, so that the file is always either the old message or the
// whole new one.
#ifndef KELVORIN_MERGE_MERGE_WRITER_H_
#define KELVORIN_MERGE_MERGE_WRITER_H_

#include <cstddef>

#include "merge_buffer.h"

namespace kelvorin {

// Merges the length bytes of message (the message file as loaded; NUL bytes
// in it are kept like any other) with the result table and puts the result in
// the place of the file at path: every row block between two block markers
// once per row, every column placeholder "%%N%%" filled (outside blocks from
// the first row). The new text goes to a temporary file beside it, flushed to
// disk, then replaces the file in one step. Returns 1 when the file was
// replaced; 0 after logging why, the file left as it was.
int WriteMergedMessage(const char* path, const char* message, std::size_t length);

// Appends the row block [block, end) to out once per stored row, with its
// column placeholders filled from that row and long cells wrapped.
void ExpandRowBlock(MergeBuffer& out, const char* block, const char* end);

}  // namespace kelvorin

#endif  // KELVORIN_MERGE_MERGE_WRITER_H_
