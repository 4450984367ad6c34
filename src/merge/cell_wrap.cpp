#include "cell_wrap.h"

namespace kelvorin {
namespace {

bool IsDelimiter(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

const char* SkipDelimiters(const char* at) {
  while (IsDelimiter(*at)) ++at;
  return at;
}

const char* WordEnd(const char* at) {
  while (*at != '\0' && !IsDelimiter(*at)) ++at;
  return at;
}

void Indent(MergeBuffer& out, int left) {
  static const char kSpaces[] = "                                                                ";
  constexpr int kRun = sizeof kSpaces - 1;
  for (; left > 0; left -= kRun) out.Append(kSpaces, left < kRun ? left : kRun);
}

}  // namespace

void WrapCell(MergeBuffer& out, const char* cell, int left, int right) {
  // A negative left margin indents nothing and counts as 0, so words still get
  // their separating spaces; wide sums stay exact in 64 bits.
  const long long start = left > 0 ? left : 0;
  long long column = -1;  // no word written yet
  const char* at = SkipDelimiters(cell);
  while (*at != '\0') {
    const char* end = WordEnd(at);
    std::size_t len = static_cast<std::size_t>(end - at);
    if (column < 0) {
      Indent(out, left);
      column = start;
    } else if (column + static_cast<long long>(len) > right) {
      out.AppendByte('\n');
      Indent(out, left);
      column = start;
    } else {
      if (column > 0) out.AppendByte(' ');
      ++column;
    }
    out.Append(at, len);
    column += static_cast<long long>(len);
    at = SkipDelimiters(end);
  }
}

}  // namespace kelvorin
