#include "cell_wrap.h"

#include <cstdint>
#include <cstring>

namespace kelvorin {
namespace {

// Space, tab, CR and LF, as bits of a mask by byte value.
constexpr std::uint64_t kDelimiters = 1ull << ' ' | 1ull << '\t' | 1ull << '\r' | 1ull << '\n';
constexpr std::uint64_t kOnes = 0x0101010101010101ull;

bool IsDelimiter(char c) {
  const unsigned char u = static_cast<unsigned char>(c);
  return u <= ' ' && (kDelimiters >> u & 1) != 0;
}

const char* SkipDelimiters(const char* at, const char* end) {
  while (at < end && IsDelimiter(*at)) ++at;
  return at;
}

// Eight bytes at a time: a branch per byte, mispredicted at every word's end,
// cost more than the rest of the wrapping. Bytes up to ' ' are flagged
// (exactly the first; later ones may be flagged falsely) and then checked.
const char* WordEnd(const char* at, const char* end) {
  for (; end - at >= 8; at += 8) {
    std::uint64_t x;
    std::memcpy(&x, at, sizeof x);
    for (std::uint64_t low = (x - kOnes * 0x21) & ~x & kOnes * 0x80; low != 0; low &= low - 1) {
      const char* hit = at + __builtin_ctzll(low) / 8;
      if (IsDelimiter(*hit)) return hit;
    }
  }
  while (at < end && !IsDelimiter(*at)) ++at;
  return at;
}

void Indent(MergeBuffer& out, int left) {
  static const char kSpaces[] = "                                                                ";
  constexpr int kRun = sizeof kSpaces - 1;
  for (; left > 0; left -= kRun) out.Append(kSpaces, left < kRun ? left : kRun);
}

// Whether the eight bytes at p hold no control byte (tab, CR and LF among
// them) and no two spaces in a row; their spaces go to *spaces as high bits.
bool PlainBlock(const char* p, std::uint64_t* spaces) {
  constexpr std::uint64_t kLow = kOnes * 0x7f, kHigh = kOnes * 0x80;
  std::uint64_t x;
  std::memcpy(&x, p, sizeof x);
  const std::uint64_t y = x ^ (kOnes * ' ');
  *spaces = ~(((y & kLow) + kLow) | y | kLow);
  return ((x - kOnes * 0x20) & ~x & kHigh) == 0 && (*spaces & (*spaces >> 8)) == 0;
}

// Whether [from, to) is words one space apart, as most values are: no control
// byte and no two spaces in a row. Eight bytes at a time, the last eight
// overlapping what went before.
bool Plain(const char* from, const char* to) {
  if (to - from < 8) {
    for (const char* p = from; p < to; ++p) {
      if (static_cast<unsigned char>(*p) < ' ' || (p > from && *p == ' ' && p[-1] == ' ')) {
        return false;
      }
    }
    return true;
  }
  std::uint64_t last = 0, spaces = 0;
  for (; to - from > 8; from += 8, last = spaces) {
    if (!PlainBlock(from, &spaces) || (last >> 56 & spaces) != 0) return false;
  }
  const char* tail = to - 8;  // a pair across its start lies in the block before
  return PlainBlock(tail, &spaces) && (tail != from || (last >> 56 & spaces) == 0);
}

// Where the line that starts with the word at ends in a plain cell: after the
// last word that ends at most reach bytes from at (the space after a word is
// not counted against the margin). Null when the first word alone is longer.
const char* PlainLineEnd(const char* at, const char* stop, long long reach) {
  if (reach < 1) return nullptr;
  if (stop - at <= reach) return stop[-1] == ' ' ? stop - 1 : stop;
  for (const char* space = at + reach; space > at; --space) {
    if (*space == ' ') return space;
  }
  return nullptr;
}

// Words of a line that stand in the cell as they are written, one space
// apart, are appended in one piece.
struct Run {
  const char* start;
  const char* end;
  void Flush(MergeBuffer& out) const { out.Append(start, static_cast<std::size_t>(end - start)); }
};

// Appends the words from at (a word's start) that share its line, which
// starts at column start, and returns where the next line's first word
// starts (or stop). In a plain cell a line is found at once, else word by
// word.
const char* Line(MergeBuffer& out, const char* at, const char* stop, long long start,
                 long long right, bool plain) {
  const char* end = plain ? PlainLineEnd(at, stop, right - start + 1) : nullptr;
  if (end != nullptr) {
    out.Append(at, static_cast<std::size_t>(end - at));
    return SkipDelimiters(end, stop);
  }
  end = WordEnd(at, stop);
  long long column = start + (end - at);
  Run run{at, end};
  for (at = SkipDelimiters(end, stop); at < stop; at = SkipDelimiters(end, stop)) {
    end = WordEnd(at, stop);
    const long long len = end - at;
    if (column + len > right) break;
    if (run.end + 1 != at || *run.end != ' ') {  // not one space apart: the run ends
      run.Flush(out);
      out.AppendByte(' ');
      run.start = at;
    }
    run.end = end;
    column += 1 + len;
  }
  run.Flush(out);
  return at;
}

}  // namespace

void WrapCell(MergeBuffer& out, const char* cell, std::size_t length, int left, int right) {
  // A negative left margin indents nothing and counts as 0, so words still get
  // their separating spaces; wide sums stay exact in 64 bits.
  const long long start = left > 0 ? left : 0;
  const char* const stop = cell + length;
  const char* at = SkipDelimiters(cell, stop);
  const bool plain = Plain(at, stop);
  for (bool first = true; at < stop; first = false) {
    if (!first) out.AppendByte('\n');
    Indent(out, left);
    at = Line(out, at, stop, start, right, plain);
  }
}

}  // namespace kelvorin
