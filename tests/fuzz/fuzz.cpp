// The libFuzzer targets, one per executable: FUZZ_TARGET is the index in
// kTargets of the one that LLVMFuzzerTestOneInput runs. Each checks the
// promises of its piece of the program on any input and aborts when one is
// broken, so that libFuzzer keeps the input.
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cell_wrap.h"
#include "merge_writer.h"
#include "message_text.h"
#include "platform.h"

namespace {

namespace fs = std::filesystem;

void Promise(bool kept, const char* promise) {
  if (kept) return;
  std::fprintf(stderr, "fuzz promise broken: %s\n", promise);
  std::abort();
}

// A folder of this process's own, in memory where /dev/shm is.
std::string ScratchDir() {
  fs::path d = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  d /= "kelvorin-fuzz-" + std::to_string(getpid());
  fs::create_directories(d);
  return d.string() + "/";
}

// Takes pieces off the front of the fuzz input.
struct Input {
  std::string rest;
  std::uint8_t Byte() {
    std::uint8_t b = rest.empty() ? 0 : static_cast<std::uint8_t>(rest[0]);
    rest.erase(0, 1);
    return b;
  }
  // The bytes up to the next separator (dropped), or the rest.
  std::string Piece(char separator) {
    std::string piece = rest.substr(0, rest.find(separator));
    rest.erase(0, piece.size() + 1);
    return piece;
  }
};

// The value stored fits the capacity, is NUL-terminated and as long as told.
int Ini(Input& in) {
  const std::size_t cap = 1 + in.Byte() % 64;
  const std::string section = in.Piece('\n'), key = in.Piece('\n'), path = ScratchDir() + "x.ini";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << in.rest;
  std::string out(80, 'Z');
  std::size_t n =
      platform::Profile(path.c_str()).Read(section.c_str(), key.c_str(), "fb", &out[0], cap);
  Promise(n < cap && out.find('\0') == n && out.find_first_not_of('Z', cap) == std::string::npos,
          "value and count agree, and nothing is written past the capacity");
  return 0;
}

// Nothing is written past the recipient buffer, a refused address leaves it
// empty, and the address lands in the query with every quote doubled, so it
// can never end the SQL literal it stands in.
int Recipient(Input& in) {
  const std::string message = in.Piece('\0'), query = in.rest;
  char recipient[kelvorin::kRecipientCapacity + 8];
  std::memcpy(recipient + kelvorin::kRecipientCapacity, "GUARDGUA", 8);
  bool found = kelvorin::ExtractRecipient(message.c_str(), recipient);
  Promise(!std::memcmp(recipient + kelvorin::kRecipientCapacity, "GUARDGUA", 8), "within buffer");
  Promise(found == (recipient[0] != '\0'), "result and address agree");
  Promise(!std::strpbrk(recipient, "\r\n\\"), "no line break or backslash");
  char* result = nullptr;
  if (!found || !kelvorin::SubstituteRecipient(query.c_str(), recipient, &result)) return 0;
  const char* token = std::strstr(query.c_str(), "%recipient%");
  Promise((result == nullptr) == (token == nullptr), "the token is found when there");
  if (result == nullptr) return 0;
  std::string expected(query.c_str(), token);
  for (const char* c = recipient; *c; ++c) expected += *c == '\'' ? "''" : std::string(1, *c);
  Promise(expected + (token + 11) == result, "the substitution");
  kelvorin::FreeText(result);
  return 0;
}

// The merge leaves no temporary file behind, a refused one leaves the
// message as it was, and a message without a single "%" merges byte for
// byte as it went in.
int Merge(Input& in) {
  kelvorin::ResultTable table(in.Byte() & 1);
  kelvorin::MergeOptions options;
  options.left = static_cast<std::int8_t>(in.Byte()) % 40;
  options.right = static_cast<std::int8_t>(in.Byte());
  options.header_guard = in.Byte() & 1;
  const std::string marker = "%" + in.Piece('\x01').substr(0, 20) + "%";
  options.marker = marker.c_str();
  for (int r = 0, rows = in.Byte() % 4, columns = in.Byte() % 5; r < rows; ++r) {
    table.BeginRow(columns);
    for (int c = 0; c < columns; ++c) Promise(table.AddCell(in.Piece('\x01').c_str()), "a cell");
    table.EndRow();
  }
  const std::string path = ScratchDir() + "message.txt";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << in.rest;
  kelvorin::StepFailure failure;
  const bool merged = kelvorin::WriteMergedMessage(path.c_str(), in.rest.data(), in.rest.size(),
                                                   table, options, &failure);
  Promise(std::distance(fs::directory_iterator(ScratchDir()), {}) == 1, "no temporary file left");
  std::ifstream file(path, std::ios::binary);
  std::string after((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  Promise(merged || after == in.rest, "a refused merge leaves the message");
  Promise(in.rest.find('%') != std::string::npos || (merged && after == in.rest),
          "a plain message merges unchanged");
  return 0;
}

std::vector<std::string> Words(const std::string& text, const char* delimiters) {
  std::vector<std::string> words;
  for (std::size_t at = text.find_first_not_of(delimiters); at != std::string::npos;) {
    std::size_t end = text.find_first_of(delimiters, at);
    words.push_back(text.substr(at, end - at));
    at = text.find_first_not_of(delimiters, end);
  }
  return words;
}

// The words come out in order and whole, joined by single spaces or broken by
// a bare LF, every line indented, and a line holding more than one word never
// passes the right margin by more than one byte.
int Wrap(Input& in) {
  auto margin = [](std::uint8_t b) {
    return b == 0xff ? INT_MAX : b == 0xfe ? INT_MIN : static_cast<std::int8_t>(b);
  };
  const int left = margin(in.Byte()) % 200, right = margin(in.Byte());
  const std::string cell = in.Piece('\0'), indent(left > 0 ? left : 0, ' ');
  kelvorin::MergeBuffer out;
  kelvorin::WrapCell(out, cell.data(), cell.size(), left, right);
  const std::string text(out.text(), out.size());
  Promise(Words(text, " \n") == Words(cell, " \t\r\n"), "the same words");
  Promise(text.find_first_of("\t\r") == std::string::npos, "no tab or CR");
  for (std::size_t start = 0; !text.empty() && start <= text.size();) {
    std::string line = text.substr(start, text.find('\n', start) - start);
    Promise(line.compare(0, indent.size(), indent) == 0, "every line indented");
    bool several = line.find(' ', indent.size()) != std::string::npos;
    Promise(!several || static_cast<long long>(line.size()) <= right + 1LL, "within the margin");
    start += line.size() + 1;
  }
  return 0;
}

int (*const kTargets[])(Input&) = {Ini, Recipient, Merge, Wrap};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{std::string(reinterpret_cast<const char*>(data), size)};
  return kTargets[FUZZ_TARGET](in);
}
