// Cell wrapping with any margins and cell: the words come out in order and
// whole, joined by single spaces or broken by a bare LF, and a line holding
// more than one word never passes the right margin by more than one byte.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "cell_wrap.h"
#include "fuzz_support.h"

namespace {

std::vector<std::string> Words(const std::string& text, const char* delimiters) {
  std::vector<std::string> words;
  std::size_t at = text.find_first_not_of(delimiters);
  while (at != std::string::npos) {
    std::size_t end = text.find_first_of(delimiters, at);
    words.push_back(text.substr(at, end == std::string::npos ? end : end - at));
    at = end == std::string::npos ? end : text.find_first_not_of(delimiters, end);
  }
  return words;
}

int Margin(std::uint8_t byte) {
  if (byte == 0xff) return INT_MAX;
  if (byte == 0xfe) return INT_MIN;
  return static_cast<std::int8_t>(byte);
}

void CheckLines(const std::string& out, int left, int right) {
  std::size_t start = 0;
  while (start <= out.size()) {
    std::size_t end = out.find('\n', start);
    std::string line = out.substr(start, end == std::string::npos ? end : end - start);
    std::string indent(left > 0 ? left : 0, ' ');
    if (line.compare(0, indent.size(), indent) != 0) fuzz_support::Fail("indentation missing");
    bool several = line.find(' ', indent.size()) != std::string::npos;
    if (several && static_cast<long long>(line.size()) > static_cast<long long>(right) + 1) {
      fuzz_support::Fail("a line of several words passes the margin");
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::Input in(data, size);
  const int left = Margin(in.Byte()) % 200;  // enough to test, not gigabytes of spaces
  const int right = Margin(in.Byte());
  const std::string cell = in.Piece('\0');
  kelvorin::MergeBuffer out;
  kelvorin::WrapCell(out, cell.c_str(), left, right);
  std::string text(out.text(), out.size());
  if (Words(text, " \n") != Words(cell, " \t\r\n")) fuzz_support::Fail("words changed");
  if (text.find_first_of("\t\r") != std::string::npos) fuzz_support::Fail("tab or CR written");
  if (!text.empty()) CheckLines(text, left, right);
  return 0;
}
