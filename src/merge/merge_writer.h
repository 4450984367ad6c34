// The merge writer: rewrites the message file with the rows of the result
// table merged in, so that the file is always either the old message or the
// whole new one.
#ifndef KELVORIN_MERGE_MERGE_WRITER_H_
#define KELVORIN_MERGE_MERGE_WRITER_H_

#include <cstddef>

#include "merge_buffer.h"
#include "result_table.h"

namespace kelvorin {

// How a message is merged: the settings that shape it.
struct MergeOptions {
  const char* marker = "%kelvorin%";  // the block marker, "%" + Rowname + "%"
  int left = 0;                       // FormatLeft: wrapping margins of cells in
  int right = 0;                      // FormatRight: row blocks; both 0: no wrapping
  // Values written before the recipient line (the host's header lines) get
  // each CR and LF as a space, so that they cannot add lines there.
  bool header_guard = true;
  // The address the rows were fetched for: the merged message's first
  // recipient line must still name it, or nothing is written. A run always
  // gives it; null leaves the check to the caller.
  const char* recipient = nullptr;
};

// Merges the length bytes of message (the message file as loaded; NUL bytes
// in it are kept like any other) with table and puts the result in the place
// of the file at path: every row block between two block markers once per
// row, every column placeholder "%%N%%" filled (outside blocks from the first
// row). The new text goes to a temporary file beside the file (the one a
// symbolic link at path leads to), flushed to disk, then replaces it in one
// step; where the folder refuses new files, the file is rewritten in place.
// True when the file was rewritten; false after logging why, the file left
// as it was (a failed rewrite in place puts the old bytes back if it can).
[[nodiscard]] bool WriteMergedMessage(const char* path, const char* message, std::size_t length,
                                      const ResultTable& table, const MergeOptions& options);

// The same merge into out instead of a file: the bytes WriteMergedMessage
// would write. False after logging why (no memory, the recipient line
// changed); out is then not to be used.
[[nodiscard]] bool MergeMessage(const char* message, std::size_t length, const ResultTable& table,
                                const MergeOptions& options, MergeBuffer* out);

}  // namespace kelvorin

#endif  // KELVORIN_MERGE_MERGE_WRITER_H_
