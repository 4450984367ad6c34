// The merge writer: rewrites the message file with the rows of the result
// table merged in, so that the file is always either the old message or the
// whole new one.
#ifndef KELVORIN_MERGE_MERGE_WRITER_H_
#define KELVORIN_MERGE_MERGE_WRITER_H_

#include <cstddef>

#include "failure.h"
#include "merge_buffer.h"
#include "result_table.h"

namespace kelvorin {

// How a message is merged: the settings that shape it.
struct MergeOptions {
  const char* marker = "%kelvorin%";  // the block marker, "%" + Rowname + "%"
  int left = 0;                       // FormatLeft: wrapping margins of cells in
  int right = 0;                      // FormatRight: row blocks; both 0: no wrapping
  // Values written into the host's header lines (the template's text before
  // its own recipient line) get each CR and LF as a space, so that they
  // cannot add lines there.
  bool header_guard = true;
};

// Merges the length bytes of message (the message file as loaded; NUL bytes
// in it are kept like any other) with table into out: every row block
// between two block markers once per row, every column placeholder "%%N%%"
// filled (outside blocks, and inside values, from the first row). The
// merged message's first recipient line must be the template's own (the
// first one in message), written once where the template puts it. False
// with why in *failure (no memory, the recipient line changed); out is then
// not to be used.
[[nodiscard]] bool MergeMessage(const char* message, std::size_t length, const ResultTable& table,
                                const MergeOptions& options, MergeBuffer* out,
                                StepFailure* failure);

// Whether the file at path may be rewritten now: it is not read-only, and no
// other program is writing it. False with Failure::kOverwrite and the OS's
// reason in *failure.
[[nodiscard]] bool MayRewrite(const char* path, StepFailure* failure);

// MayRewrite, MergeMessage, then the result put in the place of the file at
// path: it goes to a temporary file beside the file (the one a symbolic link
// at path leads to), flushed to disk, then replaces it in one step; where the
// folder refuses the new file or the replace for want of rights, the file is
// rewritten in place. True when the file was rewritten; false with why in
// *failure (with the OS call that failed, on the file that path names), the
// file left as it was (a failed rewrite in place puts the old bytes back if
// it can).
[[nodiscard]] bool WriteMergedMessage(const char* path, const char* message, std::size_t length,
                                      const ResultTable& table, const MergeOptions& options,
                                      StepFailure* failure);

}  // namespace kelvorin

#endif  // KELVORIN_MERGE_MERGE_WRITER_H_
