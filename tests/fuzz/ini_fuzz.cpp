// The INI reader on any file text, section and key: the value stored always
// fits the capacity, is NUL-terminated and matches the count returned.
#include <cstring>
#include <fstream>

#include "fuzz_support.h"
#include "platform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::Input in(data, size);
  const std::size_t cap = 1 + in.Byte() % 64;
  const std::string section = in.Piece('\n');
  const std::string key = in.Piece('\n');
  const std::string path = fuzz_support::ScratchDir() + "fuzz.ini";
  {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << in.Rest();
  }
  char out[80];
  std::memset(out, 0x5a, sizeof out);
  std::size_t n =
      platform::ReadProfileString(section.c_str(), key.c_str(), "fallback", out, cap, path.c_str());
  if (n >= cap) fuzz_support::Fail("value does not fit its capacity");
  if (out[n] != '\0' || std::strlen(out) != n) fuzz_support::Fail("count and text disagree");
  for (std::size_t i = cap; i < sizeof out; ++i) {
    if (out[i] != 0x5a) fuzz_support::Fail("written past the capacity");
  }
  return 0;
}
