#include "merge_writer.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "cell_wrap.h"
#include "message_text.h"
#include "platform.h"
#include "template_scan.h"

namespace kelvorin {
namespace {

// Where the template's own recipient line goes: the offset of its "<<< " in
// pass 1's text (none yet: SIZE_MAX), how often pass 1 copied it, and where
// it landed in the merged text.
struct TrackedLine {
  std::size_t first = SIZE_MAX;
  int copies = 0;
  std::size_t landed = 0;
};

// Pass 2, run on pass 1's text while pass 1 makes it, so that the merged
// message is built once: every column placeholder in pass 1's text is filled
// from the first row, unwrapped. Bytes that may still be part of a
// placeholder wait until the bytes after them settle it.
class FirstRowFill {
 public:
  FirstRowFill(MergeBuffer& out, const ResultTable& table, bool guard, TrackedLine& line)
      : out_(out), table_(table), guard_(guard), line_(line) {}

  // Takes the next n bytes of pass 1's text.
  void Feed(const char* bytes, std::size_t n);
  // Nothing waits: bytes without a '%' go to out as they are, by Pass, or
  // appended to out directly and then counted by Passed.
  bool Idle() const { return held_ == 0; }
  void Pass(const char* bytes, std::size_t n) { Commit(bytes, n); }
  void Passed(std::size_t n) { done_ += n; }
  // The end of pass 1's text: what waits is settled.
  void Finish();
  // Bytes of pass 1's text taken so far.
  std::size_t Taken() const { return done_ + held_; }

 private:
  std::size_t Scan(const char* from, const char* end, bool last);
  // Settled bytes of pass 1's text, to the output as they are.
  void Commit(const char* bytes, std::size_t n) {
    if (line_.first - done_ < n) line_.landed = out_.size() + (line_.first - done_);
    out_.Append(bytes, n);
    done_ += n;
  }
  void Fill(int column, std::size_t consumed);

  MergeBuffer& out_;
  const ResultTable& table_;
  const bool guard_;
  TrackedLine& line_;
  std::size_t done_ = 0;  // bytes of pass 1's text settled
  char waiting_[2 * kUnsettled];
  std::size_t held_ = 0;
};

// In the host's header lines (before the recipient line, or everywhere when
// there is none) a value's line breaks become spaces.
void FirstRowFill::Fill(int column, std::size_t consumed) {
  const bool header = guard_ && done_ < line_.first;
  done_ += consumed;
  std::size_t length = 0;
  const char* cell = table_.GetCell(column - 1, 0, &length);
  if (cell == nullptr) return;
  const std::size_t from = out_.size();
  out_.Append(cell, length);
  if (header) out_.BlankLineBreaks(from);
}

// Fills the placeholders of [from, end), which starts where everything before
// it is settled. Unless last, it stops before what the bytes after end could
// still change: a final '%', or a placeholder not yet settled. Returns the
// bytes settled.
std::size_t FirstRowFill::Scan(const char* from, const char* end, bool last) {
  for (const char* pos = from;;) {
    const char* mark = Find(pos, end, "%%", 2);
    if (mark == end) {
      const char* stop = !last && pos < end && end[-1] == '%' ? end - 1 : end;
      Commit(pos, static_cast<std::size_t>(stop - pos));
      return static_cast<std::size_t>(stop - from);
    }
    Commit(pos, static_cast<std::size_t>(mark - pos));
    if (!last && !PlaceholderSettled(mark, end)) return static_cast<std::size_t>(mark - from);
    const Placeholder p = ScanPlaceholder(mark, end, table_.ColumnCount());
    if (p.column > 0) {
      Fill(p.column, static_cast<std::size_t>(p.next - mark));
    } else {
      Commit(mark, static_cast<std::size_t>(p.next - mark));
    }
    pos = p.next;
  }
}

// What waits is topped up from bytes, kUnsettled at a time, until it settles;
// then bytes are scanned where they are.
void FirstRowFill::Feed(const char* bytes, std::size_t n) {
  while (held_ > 0 && n > 0) {
    const std::size_t take = n < kUnsettled ? n : kUnsettled;
    std::memcpy(waiting_ + held_, bytes, take);
    const std::size_t window = held_ + take;
    const std::size_t done = Scan(waiting_, waiting_ + window, false);
    if (done < held_) {  // only when bytes ran out: all of it waits
      std::memmove(waiting_, waiting_ + done, window - done);
      held_ = window - done;
      return;
    }
    bytes += done - held_;
    n -= done - held_;
    held_ = 0;
  }
  const std::size_t done = Scan(bytes, bytes + n, false);
  std::memcpy(waiting_ + held_, bytes + done, n - done);
  held_ += n - done;
}

void FirstRowFill::Finish() {
  (void)Scan(waiting_, waiting_ + held_, true);
  held_ = 0;
}

// One piece of a row block, as a row's copy of it is scanned: a literal run
// of the message, or a valid column placeholder.
struct Segment {
  const char* text;  // where it stands in the message
  std::size_t length;
  int column;    // 1-based; 0 for a literal run
  bool guard;    // a placeholder whose value lands in the header lines
  bool percent;  // a literal run holding a '%', which pass 2 must see
};

// The pieces of the row block in hand.
class Segments {
 public:
  ~Segments() { platform::Release(items_); }
  void Clear() { size_ = 0; }
  void Add(const Segment& s) {
    if (size_ == capacity_ && !Grow()) return;
    items_[size_++] = s;
  }
  const Segment* begin() const { return items_; }
  const Segment* end() const { return items_ + size_; }
  bool failed() const { return failed_; }

 private:
  bool Grow() {
    std::size_t capacity = capacity_ ? capacity_ * 2 : 16;
    void* grown = failed_ ? nullptr : platform::Reallocate(items_, sizeof(Segment) * capacity);
    if (grown == nullptr) {
      failed_ = true;
      return false;
    }
    items_ = static_cast<Segment*>(grown);
    capacity_ = capacity;
    return true;
  }
  Segment* items_ = nullptr;
  std::size_t size_ = 0, capacity_ = 0;
  bool failed_ = false;
};

// What pass 1 reads besides the message, and where it writes.
struct Expansion {
  const ResultTable& table;
  const MergeOptions& options;
  MergeBuffer& out;
  FirstRowFill& fill;
  TrackedLine& line;
  const char* own;       // the template's own recipient line, or null
  const bool wrapping;   // either margin set
  const long long room;  // between the margins
  Segments segments;     // of the row block in hand
  bool plain = false;    // no byte of the block's copies can be a '%'
  MergeBuffer scratch;   // a value that pass 2 must scan

  // Whether a value from a placeholder at at lands in the host's header
  // lines: the text before the line, or all of it when there is none.
  bool InHeader(const char* at) const { return own == nullptr || at < own; }
  bool failed() const { return segments.failed() || scratch.failed(); }
};

// Copies n bytes of the message at from into pass 1's text, noting where the
// template's own recipient line goes.
void CopyRun(Expansion& e, const char* from, std::size_t n, bool percent) {
  if (e.own != nullptr && from <= e.own && e.own < from + n) {
    e.line.first = e.fill.Taken() + static_cast<std::size_t>(e.own - from);
    ++e.line.copies;
  }
  if (!percent && e.fill.Idle()) {
    e.fill.Pass(from, n);
  } else {
    e.fill.Feed(from, n);
  }
}

// A cell inside a row block, appended to to: wrapped between the margins
// when it is longer than the room between them (either margin set), else as
// it is. In the host's header lines its line breaks become spaces, so that a
// value cannot add a header or a recipient line.
void AppendCell(const Expansion& e, const Segment& s, int row, MergeBuffer& to) {
  std::size_t len = 0;
  const char* cell = e.table.GetCell(s.column - 1, row, &len);
  if (cell == nullptr) return;
  const std::size_t from = to.size();
  if (e.wrapping && e.room < static_cast<long long>(len)) {
    WrapCell(to, cell, len, e.options.left, e.options.right);
  } else {
    to.Append(cell, len);
  }
  if (s.guard) to.BlankLineBreaks(from);
}

// A cell by way of pass 2: a value without a '%' goes straight to the output
// when nothing waits there.
void PutCell(Expansion& e, const Segment& s, int row) {
  if (!e.table.AnyPercent() && e.fill.Idle()) {
    const std::size_t from = e.out.size();
    AppendCell(e, s, row, e.out);
    e.fill.Passed(e.out.size() - from);
    return;
  }
  e.scratch.Clear();
  AppendCell(e, s, row, e.scratch);
  e.fill.Feed(e.scratch.text(), e.scratch.size());
}

void AddRun(Expansion& e, const char* from, const char* to) {
  if (from == to) return;
  const std::size_t n = static_cast<std::size_t>(to - from);
  e.segments.Add({from, n, 0, false, std::memchr(from, '%', n) != nullptr});
}

// Reads the row block [block, end) into e.segments once, as every row's copy
// of it is scanned. False when memory runs out.
bool ReadBlock(Expansion& e, const char* block, const char* end) {
  e.segments.Clear();
  const char* run = block;
  for (const char* pos = block;;) {
    const char* mark = Find(pos, end, "%%", 2);
    if (mark == end) break;
    const Placeholder p = ScanPlaceholder(mark, end, e.table.ColumnCount());
    if (p.column > 0) {
      AddRun(e, run, mark);
      e.segments.Add({mark, 0, p.column, e.options.header_guard && e.InHeader(mark), false});
      run = p.next;
    }
    pos = p.next;
  }
  AddRun(e, run, end);
  e.plain = !e.table.AnyPercent() && (e.own == nullptr || e.own < block || e.own >= end);
  for (const Segment& s : e.segments) e.plain = e.plain && !s.percent;
  return !e.segments.failed();
}

// Room for the rows' copies of the block and the rest of the message: the
// block's text once per row and every value of its columns, and an eighth
// more for the margins and line breaks wrapping adds.
void ReserveFor(Expansion& e, int rows, std::size_t rest) {
  std::size_t bytes = rest;
  for (const Segment& s : e.segments) {
    bytes += s.column == 0 ? s.length * static_cast<std::size_t>(rows)
                           : e.table.ColumnBytes(s.column - 1);
  }
  if (e.wrapping) bytes += bytes / 8;
  e.out.Reserve(bytes);
}

// One row's copy of a block in which pass 2 has nothing to do: straight to
// the output.
void AppendPlainRow(Expansion& e, int row) {
  const std::size_t from = e.out.size();
  for (const Segment& s : e.segments) {
    if (s.column == 0) {
      e.out.Append(s.text, s.length);
    } else {
      AppendCell(e, s, row, e.out);
    }
  }
  e.fill.Passed(e.out.size() - from);
}

// One row's copy of a block by way of pass 2.
void FeedRow(Expansion& e, int row) {
  for (const Segment& s : e.segments) {
    if (s.column == 0) {
      CopyRun(e, s.text, s.length, s.percent);
    } else {
      PutCell(e, s, row);
    }
  }
}

// Appends the row block [block, end) once per stored row, with its column
// placeholders filled from that row and long cells wrapped.
void ExpandRowBlock(Expansion& e, const char* block, const char* end, std::size_t rest) {
  if (!ReadBlock(e, block, end)) return;
  const int rows = e.table.RowCount();
  ReserveFor(e, rows, rest);
  for (int row = 0; row < rows; ++row) {
    if (e.plain && e.fill.Idle()) {
      AppendPlainRow(e, row);
    } else {
      FeedRow(e, row);
    }
  }
}

void CopyText(Expansion& e, const char* from, const char* to) {
  const std::size_t n = static_cast<std::size_t>(to - from);
  CopyRun(e, from, n, std::memchr(from, '%', n) != nullptr);
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
    CopyText(e, pos, open);
    const char* block = SkipLineBreak(open + mlen, close);
    pos = SkipLineBreak(close + mlen, end);
    if (block < close) ExpandRowBlock(e, block, close, static_cast<std::size_t>(end - pos));
  }
  CopyText(e, pos, end);
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

// Writes bytes into the file in hand, cut off there when cut (a new file has
// nothing behind them), flushed to the disk. True when all of it succeeded;
// else the call that failed is in *cause.
bool WriteWhole(const platform::File& file, const char* bytes, std::size_t n, bool cut,
                OsCause* cause) {
  cause->call = OsCall::kWrite;
  if (!platform::WriteAll(file, bytes, n, &cause->status) ||
      (cut && !platform::EndHere(file, &cause->status))) {
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
  bool ok = WriteWhole(file, r.text, r.size, true, cause);
  OsCause restoring;
  if (!ok && platform::Rewind(file)) (void)WriteWhole(file, r.old, r.old_size, true, &restoring);
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
  bool ok = WriteWhole(file, r.text, r.size, false, cause);
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
  TrackedLine line;
  FirstRowFill fill(*out, table, options.header_guard, line);
  const bool wrapping = options.left != 0 || options.right != 0;
  const long long room = static_cast<long long>(options.right) - options.left;
  Expansion e{table,    options, *out, fill,  line, has_own ? own.start : nullptr,
              wrapping, room,    {},   false, {}};
  ExpandBlocks(message, length, e);
  fill.Finish();
  if (out->failed() || e.failed()) return Fail(failure, Failure::kOutOfMemory);
  if (LineKept(has_own ? &own : nullptr, line, *out)) return true;
  return Fail(failure, Failure::kRecipientChanged);
}

}  // namespace kelvorin
