#include "merge_writer.h"

#include <cstdio>
#include <cstring>

#include "cell_wrap.h"
#include "message_text.h"
#include "platform.h"
#include "template_scan.h"

namespace kelvorin {
namespace {

// Where the template's own recipient line goes through a pass: its "<<< " in
// the text the pass reads, and where and how often the pass copies it.
struct TrackedLine {
  const char* source;  // null: the template has no recipient line
  std::size_t landed = 0;
  int copies = 0;

  // Whether a value from a placeholder at at lands in the host's header
  // lines: the text before the line, or all of it when there is none.
  bool InHeader(const char* at) const { return source == nullptr || at < source; }
};

// Appends runs of the text a pass reads to out, and notes where the tracked
// line lands. Values go to out directly.
struct Copier {
  MergeBuffer& out;
  TrackedLine& line;
  void Append(const char* from, std::size_t n) {
    if (line.source != nullptr && from <= line.source && line.source < from + n) {
      line.landed = out.size() + static_cast<std::size_t>(line.source - from);
      ++line.copies;
    }
    out.Append(from, n);
  }
};

// What the first pass reads besides the message, and where it writes.
struct Expansion {
  const ResultTable& table;
  const MergeOptions& options;
  Copier copy;
};

// A cell inside a row block: wrapped between the margins when it is longer
// than the room between them (either margin set), else as it is. In the
// host's header lines its line breaks become spaces, so that a value cannot
// add a header or a recipient line.
void AppendCell(Expansion& e, const char* cell, bool guard) {
  if (cell == nullptr) return;
  const MergeOptions& o = e.options;
  MergeBuffer& out = e.copy.out;
  const std::size_t from = out.size();
  long long len = static_cast<long long>(std::strlen(cell));
  long long room = static_cast<long long>(o.right) - o.left;
  if ((o.left != 0 || o.right != 0) && room < len) {
    WrapCell(out, cell, o.left, o.right);
  } else {
    out.Append(cell, static_cast<std::size_t>(len));
  }
  if (guard) out.BlankLineBreaks(from);
}

// Copies [pos, end) through copy with every valid column placeholder handed
// to put_cell(column, where it stands) instead; invalid ones are copied as
// they are. Both passes scan this way, pass 1 once per row of a block, pass 2
// over the whole text.
template <typename PutCell>
void FillPlaceholders(const char* pos, const char* end, int columns, Copier& copy,
                      PutCell put_cell) {
  for (;;) {
    const char* mark = Find(pos, end, "%%", 2);
    copy.Append(pos, static_cast<std::size_t>(mark - pos));
    if (mark == end) return;
    Placeholder p = ScanPlaceholder(mark, end, columns);
    if (p.column > 0) {
      put_cell(p.column, mark);
    } else {
      copy.Append(mark, static_cast<std::size_t>(p.next - mark));
    }
    pos = p.next;
  }
}

// Appends the row block [block, end) once per stored row, with its column
// placeholders filled from that row and long cells wrapped.
void ExpandRowBlock(Expansion& e, const char* block, const char* end) {
  const int rows = e.table.RowCount();
  const bool guard = e.options.header_guard;
  for (int row = 0; row < rows; ++row) {
    FillPlaceholders(block, end, e.table.ColumnCount(), e.copy, [&](int column, const char* at) {
      AppendCell(e, e.table.GetCell(column - 1, row), guard && e.copy.line.InHeader(at));
    });
  }
}

// Pass 1: the message with its row blocks expanded.
void ExpandBlocks(const char* message, std::size_t length, Expansion& e) {
  const char* marker = e.options.marker;
  const std::size_t mlen = std::strlen(marker);
  const char* end = message + length;
  const char* pos = message;
  for (;;) {
    const char* open = Find(pos, end, marker, mlen);
    const char* close = open == end ? end : Find(open + mlen, end, marker, mlen);
    if (close == end) break;  // no pair left: the rest is copied as it is
    e.copy.Append(pos, static_cast<std::size_t>(open - pos));
    const char* block = SkipLineBreak(open + mlen, close);
    if (block < close) ExpandRowBlock(e, block, close);
    pos = SkipLineBreak(close + mlen, end);
  }
  e.copy.Append(pos, static_cast<std::size_t>(end - pos));
}

// Pass 2: pass 1's text [text, end) with every column placeholder left in it
// filled from the first row, unwrapped.
void FillFromFirstRow(const char* text, const char* end, const ResultTable& table, bool guard,
                      Copier& copy) {
  FillPlaceholders(text, end, table.ColumnCount(), copy, [&](int column, const char* at) {
    const char* cell = table.GetCell(column - 1, 0);
    if (cell == nullptr) return;
    const std::size_t from = copy.out.size();
    copy.out.Append(cell, std::strlen(cell));
    if (guard && copy.line.InHeader(at)) copy.out.BlankLineBreaks(from);
  });
}

// Whether the merged text's first recipient line is the template's own line
// (own; null: none), once, where the template puts it (line, after both
// passes). A value or a repeated block that made one before it, or changed
// it, fails this.
bool LineKept(const RecipientLine* own, const TrackedLine& line, const MergeBuffer& merged) {
  RecipientLine first;
  if (!FindRecipientLine(merged.text(), merged.size(), &first)) return own == nullptr;
  return own != nullptr && line.copies == 1 && first.start == merged.text() + line.landed &&
         first.length == own->length && std::memcmp(first.address, own->address, own->length) == 0;
}

// The bytes to write, and the message as it was.
struct Rewrite {
  const char* text;
  std::size_t size;
  const char* old;
  std::size_t old_size;
};

// Writes bytes into the file in hand and cuts it off there, flushed to the
// disk. True when all of it succeeded; else the call that failed is in *cause.
bool WriteWhole(const platform::File& file, const char* bytes, std::size_t n, OsCause* cause) {
  cause->call = OsCall::kWrite;
  if (!platform::WriteAll(file, bytes, n, &cause->status) ||
      !platform::EndHere(file, &cause->status)) {
    return false;
  }
  cause->call = OsCall::kFlush;
  return platform::Flush(file, &cause->status);
}

// For a folder that refuses new files, or the replace, while the message
// itself may be written: the message is rewritten where it is. That is not
// crash-safe like the replace, so a failed rewrite puts the old bytes back
// as well as it can. False with the call that failed in *cause.
bool RewriteInPlace(const char* path, const Rewrite& r, OsCause* cause) {
  platform::File file;
  cause->call = OsCall::kOpen;
  if (!platform::OpenForRewrite(path, &file, &cause->status)) return false;
  bool ok = WriteWhole(file, r.text, r.size, cause);
  OsCause restoring;
  if (!ok && platform::Rewind(file)) (void)WriteWhole(file, r.old, r.old_size, &restoring);
  return ok;
}

// The file that path names, through any symbolic link. False when it cannot
// be held whole: a cut path would name some other file.
bool TargetOf(const char* path, char* target, std::size_t cap) {
  if (platform::ResolvePath(path, target, cap)) return true;
  int n = std::snprintf(target, cap, "%s", path);
  return n >= 0 && static_cast<std::size_t>(n) < cap;
}

// Writes the merged message to a new file beside the file that path names
// (through any symbolic link, which stays a link) and moves it into that
// file's place once it is whole and on disk. The file changes only by that
// one move; on failure the temporary file is removed again. Where the folder
// refuses the new file or the move for want of rights (a sticky spool folder
// refuses to replace another user's file), the rewrite is done in place.
// False with the call that failed, on the file, in *cause.
bool ReplaceMessage(const char* path, const Rewrite& r, OsCause* cause) {
  char target[platform::kMaxPath + 1];
  if (!TargetOf(path, target, sizeof target)) return false;
  cause->path = target;
  char temp[platform::kMaxPath + 64];
  platform::File file;
  cause->call = OsCall::kCreate;
  if (!platform::CreateTempBeside(target, temp, sizeof temp, &file, &cause->status)) {
    return cause->status.kind == platform::Status::kDenied && RewriteInPlace(target, r, cause);
  }
  bool ok = WriteWhole(file, r.text, r.size, cause);
  file.Close();  // Windows cannot move a file that is still open
  if (ok) cause->call = OsCall::kRename;
  if (ok && platform::ReplaceWith(temp, target, &cause->status)) return true;
  (void)platform::RemoveFile(temp);
  return ok && cause->status.kind == platform::Status::kDenied && RewriteInPlace(target, r, cause);
}

}  // namespace

bool MayRewrite(const char* path, StepFailure* failure) {
  OsCause cause{OsCall::kOpen, {}, path};
  return platform::CheckWritable(path, &cause.status) ||
         Fail(failure, Failure::kOverwrite, {}, cause);
}

bool WriteMergedMessage(const char* path, const char* message, std::size_t length,
                        const ResultTable& table, const MergeOptions& options,
                        StepFailure* failure) {
  if (!MayRewrite(path, failure)) return false;
  MergeBuffer merged;
  if (!MergeMessage(message, length, table, options, &merged, failure)) return false;
  OsCause cause;
  if (!ReplaceMessage(path, {merged.text(), merged.size(), message, length}, &cause)) {
    return Fail(failure, Failure::kWrite, {}, cause);
  }
  return true;
}

bool MergeMessage(const char* message, std::size_t length, const ResultTable& table,
                  const MergeOptions& options, MergeBuffer* out, StepFailure* failure) {
  RecipientLine own;
  const bool has_own = FindRecipientLine(message, length, &own);
  MergeBuffer expanded;
  TrackedLine first{has_own ? own.start : nullptr};
  Expansion expansion{table, options, {expanded, first}};
  ExpandBlocks(message, length, expansion);
  if (expanded.failed()) return Fail(failure, Failure::kOutOfMemory);
  // A line written other than once has no one place: the check below fails.
  TrackedLine second{first.copies == 1 ? expanded.text() + first.landed : nullptr};
  Copier copy{*out, second};
  FillFromFirstRow(expanded.text(), expanded.text() + expanded.size(), table, options.header_guard,
                   copy);
  if (out->failed()) return Fail(failure, Failure::kOutOfMemory);
  if (LineKept(has_own ? &own : nullptr, second, *out)) return true;
  return Fail(failure, Failure::kRecipientChanged);
}

}  // namespace kelvorin
