// The libFuzzer targets, one per executable (FUZZ_TARGET: the index in kTargets): memory faults
// under the sanitizers on any INI text, recipient line, template and cells, which the merge wraps
// between random margins (the wrap alone meets random cells in its unit property, sanitized too).
// Buffers are heap blocks of their exact size, so that one byte past them is reported.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "merge_writer.h"
#include "message_text.h"
#include "platform.h"

namespace {

void Ini(FuzzedDataProvider& in) {
  std::vector<char> out(in.ConsumeIntegralInRange(1, 64)), keys(in.ConsumeIntegralInRange(1, 256));
  const std::string section = in.ConsumeRandomLengthString(), key = in.ConsumeRandomLengthString();
  const std::string path = "/tmp/kelvorin-fuzz-" + std::to_string(getpid()) + ".ini";
  std::ofstream(path, std::ios::binary | std::ios::trunc) << in.ConsumeRemainingBytesAsString();
  platform::Profile ini(path.c_str());
  const std::size_t n = ini.Read(section.c_str(), key.c_str(), "fb", out.data(), out.size());
  if (n >= out.size() || std::strlen(out.data()) != n) abort();  // the count is the value's
  ini.Keys(section.c_str(), keys.data(), keys.size());
  std::remove(path.c_str());
}

void Recipient(FuzzedDataProvider& in) {
  const std::string message = in.ConsumeRandomLengthString();
  const std::string query = in.ConsumeRemainingBytesAsString();
  std::vector<char> recipient(kelvorin::kRecipientCapacity);
  char* result = nullptr;
  if (kelvorin::ExtractRecipient(message.c_str(), recipient.data()) &&
      kelvorin::SubstituteRecipient(query.c_str(), recipient.data(), &result)) {
    kelvorin::FreeText(result);
  }
}

void Merge(FuzzedDataProvider& in) {
  kelvorin::ResultTable table(in.ConsumeBool());
  const std::string marker = "%" + in.ConsumeRandomLengthString(20) + "%";
  const kelvorin::MergeOptions options{marker.c_str(), in.ConsumeIntegralInRange(-40, 40),
                                       in.ConsumeIntegralInRange(-128, 127), in.ConsumeBool()};
  const int rows = in.ConsumeIntegralInRange(0, 3), columns = in.ConsumeIntegralInRange(0, 4);
  for (int r = 0; r < rows; ++r) {
    table.BeginRow(columns);
    for (int c = 0; c < columns; ++c) (void)table.AddCell(in.ConsumeRandomLengthString().c_str());
    table.EndRow();
  }
  const std::string message = in.ConsumeRemainingBytesAsString();
  kelvorin::MergeBuffer out;
  kelvorin::StepFailure failure;
  (void)kelvorin::MergeMessage(message.data(), message.size(), table, options, &out, &failure);
}

void (*const kTargets[])(FuzzedDataProvider&) = {Ini, Recipient, Merge};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  kTargets[FUZZ_TARGET](in);
  return 0;
}
