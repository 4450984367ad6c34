// Shared pieces of the fuzz targets: a private folder for the files a target
// must write, and a reader that takes values off the front of the input.
#ifndef KELVORIN_TESTS_FUZZ_FUZZ_SUPPORT_H_
#define KELVORIN_TESTS_FUZZ_FUZZ_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace fuzz_support {

// A folder made once per process, under /dev/shm when there is one so that
// the many small writes stay in memory.
const std::string& ScratchDir();

// Takes pieces off the front of the fuzz input.
class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size)
      : at_(reinterpret_cast<const char*>(data)), left_(size) {}

  // One byte, or 0 when the input is used up.
  std::uint8_t Byte();
  // The bytes up to the next separator (dropped), or the rest.
  std::string Piece(char separator);
  // Everything not taken yet.
  std::string Rest();

 private:
  const char* at_;
  std::size_t left_;
};

// Aborts with message: libFuzzer then keeps the input that broke a promise.
[[noreturn]] void Fail(const char* message);

}  // namespace fuzz_support

#endif  // KELVORIN_TESTS_FUZZ_FUZZ_SUPPORT_H_
