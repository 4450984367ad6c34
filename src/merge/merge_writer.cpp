#include "merge_writer.h"

#include <climits>
#include <cstdio>
#include <cstring>

#include "cell_wrap.h"
#include "platform.h"
#include "run_log.h"

namespace kelvorin {
namespace {

constexpr char kOverwriteError[] = "ERROR: can't overwrite message file";
constexpr char kWriteError[] = "ERROR: file writing error";
constexpr char kOutOfMemory[] = "ERROR: out of memory.";
constexpr int kMaxPlaceholderDigits = 50;

// The first needle (n > 0 bytes) in [from, end), or end.
const char* Find(const char* from, const char* end, const char* needle, std::size_t n) {
  while (static_cast<std::size_t>(end - from) >= n) {
    const char* hit = static_cast<const char*>(
        std::memchr(from, needle[0], static_cast<std::size_t>(end - from) - n + 1));
    if (hit == nullptr) break;
    if (std::memcmp(hit, needle, n) == 0) return hit;
    from = hit + 1;
  }
  return end;
}

// Steps over one CR and then one LF, as far as end.
const char* SkipLineBreak(const char* at, const char* end) {
  if (at < end && *at == '\r') ++at;
  if (at < end && *at == '\n') ++at;
  return at;
}

struct Placeholder {
  int column;        // 1-based; 0 when the placeholder is not valid
  const char* next;  // where scanning goes on
};

// Reads the placeholder at "%%" in [at, end). A valid one ("%%", 1 to 50
// digits naming a column from 1 to ColumnCount, "%%") is passed whole; of an
// invalid one only the "%%" and its digits are, so its closing "%%" can open
// the next one. Values beyond 32 bits name no column.
Placeholder ScanPlaceholder(const char* at, const char* end, int columns) {
  const char* p = at + 2;
  long long value = 0;
  int digits = 0;
  for (; p < end && digits < kMaxPlaceholderDigits && *p >= '0' && *p <= '9'; ++p, ++digits) {
    if (value <= INT_MAX) value = value * 10 + (*p - '0');
  }
  bool closed = end - p >= 2 && p[0] == '%' && p[1] == '%';
  if (closed && value >= 1 && value <= columns) return {static_cast<int>(value), p + 2};
  return {0, p};
}

// What a merge reads besides the message.
struct Inputs {
  const ResultTable& table;
  const MergeOptions& options;
};

// A cell inside a row block: wrapped between the margins when it is longer
// than the room between them (either margin set), else as it is.
void AppendCell(MergeBuffer& out, const char* cell, const MergeOptions& o) {
  if (cell == nullptr) return;
  long long len = static_cast<long long>(std::strlen(cell));
  long long room = static_cast<long long>(o.right) - o.left;
  if ((o.left != 0 || o.right != 0) && room < len) {
    WrapCell(out, cell, o.left, o.right);
  } else {
    out.Append(cell, static_cast<std::size_t>(len));
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
void ExpandRowBlock(MergeBuffer& out, const char* block, const char* end, const Inputs& in) {
  const int rows = in.table.RowCount();
  for (int row = 0; row < rows; ++row) {
    FillPlaceholders(block, end, in.table.ColumnCount(), out, [&out, &in, row](int column) {
      AppendCell(out, in.table.GetCell(column - 1, row), in.options);
    });
  }
}

// Pass 1: the message with its row blocks expanded, into out.
void ExpandBlocks(const char* message, std::size_t length, const Inputs& in, MergeBuffer& out) {
  const char* marker = in.options.marker;
  const std::size_t mlen = std::strlen(marker);
  const char* end = message + length;
  const char* pos = message;
  for (;;) {
    const char* open = Find(pos, end, marker, mlen);
    const char* close = open == end ? end : Find(open + mlen, end, marker, mlen);
    if (close == end) break;  // no pair left: the rest is copied as it is
    out.Append(pos, static_cast<std::size_t>(open - pos));
    const char* block = SkipLineBreak(open + mlen, close);
    if (block < close) ExpandRowBlock(out, block, close, in);
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

// Pass 2: the expanded text with every column placeholder left in it filled
// from the first row, unwrapped.
void FillFromFirstRow(const MergeBuffer& merged, const ResultTable& table, FileWriter& out) {
  const char* end = merged.text() + merged.size();
  FillPlaceholders(merged.text(), end, table.ColumnCount(), out, [&out, &table](int column) {
    const char* cell = table.GetCell(column - 1, 0);
    if (cell != nullptr) out.Append(cell, std::strlen(cell));
  });
}

// What a rewrite of the message file writes, and what it puts back should
// an in-place rewrite fail.
struct Rewrite {
  const MergeBuffer& merged;  // pass 1's text
  const ResultTable& table;   // for pass 2
  const char* old;            // the message as it was
  std::size_t old_length;
};

// Writes the merged message into the file in hand and cuts it off there,
// flushed to the disk. True when all of it succeeded.
bool WriteWhole(platform::File file, const Rewrite& r) {
  FileWriter writer(file);
  FillFromFirstRow(r.merged, r.table, writer);
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

}  // namespace

bool WriteMergedMessage(const char* path, const char* message, std::size_t length,
                        const ResultTable& table, const MergeOptions& options) {
  if (!platform::CheckWritable(path)) {
    Log().Write(kOverwriteError);
    return false;
  }
  MergeBuffer merged;
  ExpandBlocks(message, length, Inputs{table, options}, merged);
  if (merged.failed()) {
    Log().Write(kOutOfMemory);
    return false;
  }
  if (!ReplaceMessage(path, Rewrite{merged, table, message, length})) {
    Log().Write(kWriteError);
    return false;
  }
  return true;
}

}  // namespace kelvorin
