// The libFuzzer targets, one per executable (FUZZ_TARGET: the index in
// kTargets): memory faults under the sanitizers on any INI text, recipient
// line, template and cell. Buffers are heap blocks of their exact size, so
// that one byte past them is reported.
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "cell_wrap.h"
#include "merge_writer.h"
#include "message_text.h"
#include "platform.h"

namespace {

// Takes pieces off the front of the fuzz input.
struct Input {
  std::string rest;
  int Byte() {
    int b = rest.empty() ? 0 : static_cast<unsigned char>(rest[0]);
    rest.erase(0, 1);
    return b;
  }
  std::string Piece(char separator) {  // up to the separator (dropped), or the rest
    std::string piece = rest.substr(0, rest.find(separator));
    rest.erase(0, piece.size() + 1);
    return piece;
  }
};

void Ini(Input& in) {
  std::vector<char> out(1 + in.Byte() % 64), keys(1 + in.Byte());
  const std::string section = in.Piece('\n'), key = in.Piece('\n');
  const std::string path = "/tmp/kelvorin-fuzz-" + std::to_string(getpid()) + ".ini";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << in.rest;
  platform::Profile ini(path.c_str());
  const std::size_t n = ini.Read(section.c_str(), key.c_str(), "fb", out.data(), out.size());
  if (n >= out.size() || std::strlen(out.data()) != n) abort();  // the count is the value's
  ini.Keys(section.c_str(), keys.data(), keys.size());
}

void Recipient(Input& in) {
  const std::string message = in.Piece('\0'), query = in.rest;
  std::vector<char> recipient(kelvorin::kRecipientCapacity);
  char* result = nullptr;
  if (kelvorin::ExtractRecipient(message.c_str(), recipient.data()) &&
      kelvorin::SubstituteRecipient(query.c_str(), recipient.data(), &result)) {
    kelvorin::FreeText(result);
  }
}

void Merge(Input& in) {
  kelvorin::ResultTable table(in.Byte() & 1);
  const std::string marker = "%" + in.Piece('\x01').substr(0, 20) + "%";
  const kelvorin::MergeOptions options{marker.c_str(), static_cast<signed char>(in.Byte()) % 40,
                                       static_cast<signed char>(in.Byte()), (in.Byte() & 1) != 0};
  for (int r = 0, rows = in.Byte() % 4, columns = in.Byte() % 5; r < rows; ++r) {
    table.BeginRow(columns);
    for (int c = 0; c < columns; ++c) (void)table.AddCell(in.Piece('\x01').c_str());
    table.EndRow();
  }
  kelvorin::MergeBuffer out;
  kelvorin::StepFailure failure;
  (void)kelvorin::MergeMessage(in.rest.data(), in.rest.size(), table, options, &out, &failure);
}

void Wrap(Input& in) {
  auto margin = [](int b) {
    return b == 0xff ? INT_MAX : b == 0xfe ? INT_MIN : static_cast<signed char>(b);
  };
  const int left = margin(in.Byte()) % 200, right = margin(in.Byte());
  kelvorin::MergeBuffer out;
  kelvorin::WrapCell(out, in.rest.data(), in.rest.size(), left, right);
}

void (*const kTargets[])(Input&) = {Ini, Recipient, Merge, Wrap};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Input in{std::string(reinterpret_cast<const char*>(data), size)};
  kTargets[FUZZ_TARGET](in);
  return 0;
}
