#include "cell_wrap.h"

#include <cstring>

namespace kelvorin {
namespace {

constexpr char kDelimiters[] = " \t\r\n";

void Indent(MergeBuffer& out, int left) {
  for (int i = 0; i < left; ++i) out.AppendByte(' ');
}

}  // namespace

void WrapCell(MergeBuffer& out, const char* cell, int left, int right) {
  // A negative left margin indents nothing and counts as 0, so words still get
  // their separating spaces; wide sums stay exact in 64 bits.
  const long long start = left > 0 ? left : 0;
  long long column = -1;  // no word written yet
  const char* at = cell + std::strspn(cell, kDelimiters);
  while (*at != '\0') {
    std::size_t len = std::strcspn(at, kDelimiters);
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
    at += len;
    at += std::strspn(at, kDelimiters);
  }
}

}  // namespace kelvorin
