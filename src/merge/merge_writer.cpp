#include "merge_writer.h"

#include <cstdio>
#include <cstring>

#include "cell_wrap.h"
#include "log_lines.h"
#include "message_text.h"
#include "platform.h"
#include "run_log.h"
#include "template_scan.h"

namespace kelvorin {
namespace {

constexpr char kWriteError[] = "ERROR: file writing error";
constexpr char kRecipientChanged[] = "ERROR: recipient line changed by the merge";

// Follows a text as it is written, piece by piece, and finds its first
// recipient line the way ExtractRecipient finds it in a whole text: the first
// "\r\n<<< " before any NUL byte, the address running to CR, LF, NUL or the
// end. Before that line starts, the text is the host's header lines.
class RecipientWatch {
 public:
  void Feed(const char* bytes, std::size_t n) {
    for (std::size_t i = 0; i < n && phase_ != kDone; ++i) Step(bytes[i]);
  }
  bool InHeader() const { return phase_ == kSearching; }
  bool Names(const char* recipient) const {
    return phase_ != kSearching && length_ == std::strlen(recipient) &&
           std::memcmp(address_, recipient, length_) == 0;
  }

 private:
  enum Phase { kSearching, kAddress, kDone };
  void Step(char c) {
    if (phase_ == kAddress && (c == '\r' || c == '\n' || c == '\0')) {
      phase_ = kDone;
    } else if (phase_ == kAddress) {
      if (length_ < sizeof address_) address_[length_] = c;
      ++length_;  // one too long never names a recipient
    } else if (c == '\0') {
      phase_ = kDone;  // past a NUL no recipient line is found
    } else {
      matched_ = c == kRecipientPrefix[matched_] ? matched_ + 1 : c == '\r' ? 1 : 0;
      if (matched_ == sizeof kRecipientPrefix - 1) phase_ = kAddress;
    }
  }

  Phase phase_ = kSearching;
  std::size_t matched_ = 0;
  std::size_t length_ = 0;
  char address_[kRecipientCapacity];
};

// Forwards what a pass writes to out, and lets the watch see it.
template <typename Out>
struct Watched {
  Out& out;
  RecipientWatch watch;
  void Append(const char* bytes, std::size_t n) {
    watch.Feed(bytes, n);
    out.Append(bytes, n);
  }
};

// What the first pass reads besides the message, and what it has written.
struct Expansion {
  const ResultTable& table;
  const MergeOptions& options;
  MergeBuffer& out;
  RecipientWatch watch;
  std::size_t seen = 0;  // bytes of out the watch has seen

  bool InHeader() {
    watch.Feed(out.text() + seen, out.size() - seen);
    seen = out.size();
    return watch.InHeader();
  }
};

// A cell inside a row block: wrapped between the margins when it is longer
// than the room between them (either margin set), else as it is. In the
// host's header lines its line breaks become spaces, so that a value cannot
// add a header or a recipient line.
void AppendCell(Expansion& e, const char* cell) {
  if (cell == nullptr) return;
  const MergeOptions& o = e.options;
  const bool guard = o.header_guard && e.InHeader();
  const std::size_t from = e.out.size();
  long long len = static_cast<long long>(std::strlen(cell));
  long long room = static_cast<long long>(o.right) - o.left;
  if ((o.left != 0 || o.right != 0) && room < len) {
    WrapCell(e.out, cell, o.left, o.right);
  } else {
    e.out.Append(cell, static_cast<std::size_t>(len));
  }
  if (guard) e.out.BlankLineBreaks(from);
}

// Writes cell to out with each CR and LF as one space.
template <typename Out>
void AppendFlattened(Out& out, const char* cell) {
  for (;;) {
    std::size_t run = std::strcspn(cell, "\r\n");
    out.Append(cell, run);
    if (cell[run] == '\0') return;
    out.Append(" ", 1);
    cell += run + 1;
  }
}

// Copies [pos, end) to out with every valid column placeholder handed to
// put_cell(column) instead; invalid ones are copied as they are. Both passes
// scan this way, pass 1 once per row of a block, pass 2 over the whole text.
template <typename Out, typename PutCell>
void FillPlaceholders(const char* pos, const char* end, int columns, Out& out, PutCell put_cell) {
  for (;;) {
    const char* mark = Find(pos, end, "%%", 2);
    out.Append(pos, static_cast<std::size_t>(mark - pos));
    if (mark == end) return;
    Placeholder p = ScanPlaceholder(mark, end, columns);
    if (p.column > 0) {
      put_cell(p.column);
    } else {
      out.Append(mark, static_cast<std::size_t>(p.next - mark));
    }
    pos = p.next;
  }
}

// Appends the row block [block, end) to out once per stored row, with its
// column placeholders filled from that row and long cells wrapped.
void ExpandRowBlock(Expansion& e, const char* block, const char* end) {
  const int rows = e.table.RowCount();
  for (int row = 0; row < rows; ++row) {
    FillPlaceholders(block, end, e.table.ColumnCount(), e.out,
                     [&e, row](int column) { AppendCell(e, e.table.GetCell(column - 1, row)); });
  }
}

// Pass 1: the message with its row blocks expanded, into e.out.
void ExpandBlocks(const char* message, std::size_t length, Expansion& e) {
  MergeBuffer& out = e.out;
  const char* marker = e.options.marker;
  const std::size_t mlen = std::strlen(marker);
  const char* end = message + length;
  const char* pos = message;
  for (;;) {
    const char* open = Find(pos, end, marker, mlen);
    const char* close = open == end ? end : Find(open + mlen, end, marker, mlen);
    if (close == end) break;  // no pair left: the rest is copied as it is
    out.Append(pos, static_cast<std::size_t>(open - pos));
    const char* block = SkipLineBreak(open + mlen, close);
    if (block < close) ExpandRowBlock(e, block, close);
    pos = SkipLineBreak(close + mlen, end);
  }
  out.Append(pos, static_cast<std::size_t>(end - pos));
  out.Terminate();
}

// Gathers the many small pieces of pass 2 into large writes.
class FileWriter {
 public:
  explicit FileWriter(platform::File file) : file_(file) {}

  void Append(const char* bytes, std::size_t n) {
    if (n > sizeof buffer_ - used_) Drain();
    if (n >= sizeof buffer_) {
      ok_ = ok_ && platform::WriteAll(file_, bytes, n);
      return;
    }
    std::memcpy(buffer_ + used_, bytes, n);
    used_ += n;
  }

  // Writes what is still buffered. True when every write succeeded.
  bool Finish() {
    Drain();
    return ok_;
  }

 private:
  void Drain() {
    if (used_ > 0) ok_ = ok_ && platform::WriteAll(file_, buffer_, used_);
    used_ = 0;
  }

  platform::File file_;
  char buffer_[1 << 16];
  std::size_t used_ = 0;
  bool ok_ = true;
};

// What pass 2 writes, and what a failed in-place rewrite puts back.
struct Rewrite {
  MergeBuffer& merged;  // pass 1's text
  const ResultTable& table;
  bool header_guard;
  const char* old;  // the message as it was
  std::size_t old_length;
};

// Pass 2: the expanded text with every column placeholder left in it filled
// from the first row, unwrapped, and flattened in the header lines. The
// watch of out then knows the merged message's recipient line.
template <typename Out>
void FillFromFirstRow(const Rewrite& r, Watched<Out>& out) {
  const char* end = r.merged.text() + r.merged.size();
  FillPlaceholders(r.merged.text(), end, r.table.ColumnCount(), out, [&out, &r](int column) {
    const char* cell = r.table.GetCell(column - 1, 0);
    if (cell == nullptr) return;
    if (r.header_guard && out.watch.InHeader()) {
      AppendFlattened(out, cell);
    } else {
      out.Append(cell, std::strlen(cell));
    }
  });
}

struct NoOutput {
  void Append(const char*, std::size_t) {}
};

// Pass 2 with nothing written, for the recipient line alone: the file is
// checked before it is touched, as a rewrite in place could not take back
// what it wrote.
RecipientWatch DryRun(const Rewrite& r) {
  NoOutput none;
  Watched<NoOutput> out{none, {}};
  FillFromFirstRow(r, out);
  return out.watch;
}

// Writes the merged message into the file in hand and cuts it off there,
// flushed to the disk. True when all of it succeeded.
bool WriteWhole(platform::File file, const Rewrite& r) {
  FileWriter writer(file);
  Watched<FileWriter> out{writer, {}};
  FillFromFirstRow(r, out);
  return writer.Finish() && platform::EndHere(file) && platform::Flush(file);
}

// For a folder that refuses new files while the message itself may be
// written: the message is rewritten where it is. That is not crash-safe like
// the replace, so a failed rewrite puts the old bytes back as well as it can.
bool RewriteInPlace(const char* path, const Rewrite& r) {
  platform::File file = platform::kNoFile;
  if (!platform::OpenForRewrite(path, &file)) return false;
  bool ok = WriteWhole(file, r);
  if (!ok && platform::Rewind(file) && platform::WriteAll(file, r.old, r.old_length) &&
      platform::EndHere(file)) {
    (void)platform::Flush(file);
  }
  platform::Close(file);
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
// one move; on failure the temporary file is removed again.
bool ReplaceMessage(const char* path, const Rewrite& r) {
  char target[platform::kMaxPath + 1];
  if (!TargetOf(path, target, sizeof target)) return false;
  char temp[platform::kMaxPath + 64];
  platform::File file = platform::kNoFile;
  platform::Status why = platform::Status::kFailed;
  if (!platform::CreateTempBeside(target, temp, sizeof temp, &file, &why)) {
    return why == platform::Status::kDenied && RewriteInPlace(target, r);
  }
  bool ok = WriteWhole(file, r);
  platform::Close(file);  // Windows cannot move a file that is still open
  if (ok && platform::ReplaceWith(temp, target)) return true;
  (void)platform::RemoveFile(temp);
  return false;
}

// Pass 1, into r.merged. False after logging that memory ran out.
bool Expand(const char* message, std::size_t length, const Rewrite& r,
            const MergeOptions& options) {
  Expansion expansion{r.table, options, r.merged, {}};
  ExpandBlocks(message, length, expansion);
  if (!r.merged.failed()) return true;
  Log().Write(kOutOfMemory);
  return false;
}

// Whether the recipient line that pass 2's watch saw still names the address
// the rows were fetched for. False after logging.
bool RecipientKept(const RecipientWatch& watch, const MergeOptions& options) {
  if (options.recipient == nullptr || watch.Names(options.recipient)) return true;
  Log().Write(kRecipientChanged);
  return false;
}

}  // namespace

bool WriteMergedMessage(const char* path, const char* message, std::size_t length,
                        const ResultTable& table, const MergeOptions& options) {
  if (!platform::CheckWritable(path)) {
    Log().Write(kOverwriteError);
    return false;
  }
  MergeBuffer merged;
  const Rewrite rewrite{merged, table, options.header_guard, message, length};
  if (!Expand(message, length, rewrite, options)) return false;
  if (!RecipientKept(DryRun(rewrite), options)) return false;
  if (!ReplaceMessage(path, rewrite)) {
    Log().Write(kWriteError);
    return false;
  }
  return true;
}

bool MergeMessage(const char* message, std::size_t length, const ResultTable& table,
                  const MergeOptions& options, MergeBuffer* out) {
  MergeBuffer merged;
  const Rewrite rewrite{merged, table, options.header_guard, message, length};
  if (!Expand(message, length, rewrite, options)) return false;
  // In memory the one pass serves both: out is not to be used on failure.
  Watched<MergeBuffer> written{*out, {}};
  FillFromFirstRow(rewrite, written);
  if (out->failed()) {
    Log().Write(kOutOfMemory);
    return false;
  }
  return RecipientKept(written.watch, options);
}

}  // namespace kelvorin
