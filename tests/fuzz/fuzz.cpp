// The libFuzzer targets, one per executable: FUZZ_TARGET is the index of the
// function in kTargets below that LLVMFuzzerTestOneInput runs. Each checks the promises of its
// piece of the program on any input and aborts when one is broken, so that
// libFuzzer keeps the input.
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "cell_wrap.h"
#include "merge_writer.h"
#include "message_text.h"
#include "platform.h"

namespace {

[[noreturn]] void Fail(const char* message) {
  std::fprintf(stderr, "fuzz promise broken: %s\n", message);
  std::abort();
}

// A folder made once per process, in memory where /dev/shm is.
const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/kelvorin-fuzz-XXXXXX"
                                                        : "/tmp/kelvorin-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch folder");
    return pattern + "/";
  }();
  return dir;
}

// Takes pieces off the front of the fuzz input.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  std::uint8_t Byte() {
    std::uint8_t b = rest_.empty() ? 0 : static_cast<std::uint8_t>(rest_[0]);
    if (!rest_.empty()) rest_.erase(0, 1);
    return b;
  }
  // The bytes up to the next separator (dropped), or the rest.
  std::string Piece(char separator) {
    std::size_t at = rest_.find(separator);
    std::string piece = rest_.substr(0, at);
    rest_.erase(0, at == std::string::npos ? at : at + 1);
    return piece;
  }
  std::string Rest() { return std::move(rest_); }

 private:
  std::string rest_;
};

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// The value stored always fits the capacity, is NUL-terminated and matches
// the count returned.
int Ini(Input& in) {
  const std::size_t cap = 1 + in.Byte() % 64;
  const std::string section = in.Piece('\n'), key = in.Piece('\n');
  const std::string path = ScratchDir() + "fuzz.ini";
  WriteFile(path, in.Rest());
  char out[80];
  std::memset(out, 0x5a, sizeof out);
  std::size_t n =
      platform::Profile(path.c_str()).Read(section.c_str(), key.c_str(), "fallback", out, cap);
  if (n >= cap) Fail("value does not fit its capacity");
  if (out[n] != '\0' || std::strlen(out) != n) Fail("count and text disagree");
  for (std::size_t i = cap; i < sizeof out; ++i) {
    if (out[i] != 0x5a) Fail("written past the capacity");
  }
  return 0;
}

// Nothing is written past the recipient buffer, a refused address leaves it
// empty, and the address lands in the query with every quote doubled, so it
// can never end the SQL literal it stands in.
int Recipient(Input& in) {
  const std::string message = in.Piece('\0'), query = in.Rest();
  char recipient[kelvorin::kRecipientCapacity + 8];
  std::memcpy(recipient + kelvorin::kRecipientCapacity, "GUARDGUA", 8);
  bool found = kelvorin::ExtractRecipient(message.c_str(), recipient);
  if (std::memcmp(recipient + kelvorin::kRecipientCapacity, "GUARDGUA", 8) != 0) {
    Fail("written past the recipient buffer");
  }
  if (found != (recipient[0] != '\0')) Fail("result and address disagree");
  if (std::strpbrk(recipient, "\r\n\\")) Fail("line break or backslash kept");
  char* result = nullptr;
  if (!found || !kelvorin::SubstituteRecipient(query.c_str(), recipient, &result)) return 0;
  const char* token = std::strstr(query.c_str(), "%recipient%");
  if ((result == nullptr) != (token == nullptr)) Fail("token found wrongly");
  if (result == nullptr) return 0;
  std::string expected(query.c_str(), token);
  for (const char* c = recipient; *c; ++c) expected += *c == '\'' ? "''" : std::string(1, *c);
  if (expected + (token + 11) != result) Fail("substitution differs");
  kelvorin::FreeText(result);
  return 0;
}

int EntriesIn(const std::string& dir) {
  int n = 0;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) n += std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, "..");
    closedir(d);
  }
  return n;
}

// The merge always completes, leaves no temporary file behind, and a message
// without a single "%" comes out byte for byte as it went in.
int Merge(Input& in) {
  kelvorin::ResultTable table(in.Byte() & 1);
  kelvorin::MergeOptions options;
  options.left = static_cast<std::int8_t>(in.Byte()) % 40;
  options.right = static_cast<std::int8_t>(in.Byte());
  const std::string marker = "%" + in.Piece('\x01').substr(0, 20) + "%";
  options.marker = marker.c_str();
  const int rows = in.Byte() % 4, columns = in.Byte() % 5;
  for (int r = 0; r < rows; ++r) {
    table.BeginRow(columns);
    for (int c = 0; c < columns; ++c) {
      if (!table.AddCell(in.Piece('\x01').c_str())) Fail("no cell stored");
    }
    table.EndRow();
  }
  const std::string message = in.Rest(), path = ScratchDir() + "message.txt";
  WriteFile(path, message);
  if (!kelvorin::WriteMergedMessage(path.c_str(), message.data(), message.size(), table, options)) {
    Fail("merge failed");
  }
  if (EntriesIn(ScratchDir()) != 1) Fail("a temporary file was left behind");
  std::ifstream file(path, std::ios::binary);
  std::string after((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (message.find('%') == std::string::npos && after != message) Fail("a plain message changed");
  return 0;
}

std::vector<std::string> Words(const std::string& text, const char* delimiters) {
  std::vector<std::string> words;
  for (std::size_t at = text.find_first_not_of(delimiters); at != std::string::npos;) {
    std::size_t end = text.find_first_of(delimiters, at);
    words.push_back(text.substr(at, end == std::string::npos ? end : end - at));
    at = end == std::string::npos ? end : text.find_first_not_of(delimiters, end);
  }
  return words;
}

int Margin(std::uint8_t byte) {
  return byte == 0xff ? INT_MAX : byte == 0xfe ? INT_MIN : static_cast<std::int8_t>(byte);
}

// The words come out in order and whole, joined by single spaces or broken by
// a bare LF, every line indented, and a line holding more than one word never
// passes the right margin by more than one byte.
int Wrap(Input& in) {
  const int left = Margin(in.Byte()) % 200, right = Margin(in.Byte());
  const std::string cell = in.Piece('\0');
  kelvorin::MergeBuffer out;
  kelvorin::WrapCell(out, cell.c_str(), left, right);
  const std::string text(out.text(), out.size()), indent(left > 0 ? left : 0, ' ');
  if (Words(text, " \n") != Words(cell, " \t\r\n")) Fail("words changed");
  if (text.find_first_of("\t\r") != std::string::npos) Fail("tab or CR written");
  for (std::size_t start = 0; !text.empty() && start <= text.size();) {
    std::size_t end = text.find('\n', start);
    std::string line = text.substr(start, end == std::string::npos ? end : end - start);
    if (line.compare(0, indent.size(), indent) != 0) Fail("indentation missing");
    bool several = line.find(' ', indent.size()) != std::string::npos;
    if (several && static_cast<long long>(line.size()) > right + 1LL) Fail("line too long");
    start = end == std::string::npos ? text.size() + 1 : end + 1;
  }
  return 0;
}

int (*const kTargets[])(Input&) = {Ini, Recipient, Merge, Wrap};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in(data, size);
  return kTargets[FUZZ_TARGET](in);
}
