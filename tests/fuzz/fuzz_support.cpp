#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace fuzz_support {

const std::string& ScratchDir() {
  static const std::string dir = [] {
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm/kelvorin-fuzz-XXXXXX"
                                                        : "/tmp/kelvorin-fuzz-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) Fail("cannot make a scratch folder");
    return pattern + "/";
  }();
  return dir;
}

std::uint8_t Input::Byte() {
  if (left_ == 0) return 0;
  --left_;
  return static_cast<std::uint8_t>(*at_++);
}

std::string Input::Piece(char separator) {
  const void* hit = std::memchr(at_, separator, left_);
  std::size_t n = hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - at_) : left_;
  std::string piece(at_, n);
  at_ += n;
  left_ -= n;
  if (hit) Byte();
  return piece;
}

std::string Input::Rest() {
  std::string rest(at_, left_);
  at_ += left_;
  left_ = 0;
  return rest;
}

void Fail(const char* message) {
  std::fprintf(stderr, "fuzz promise broken: %s\n", message);
  std::abort();
}

}  // namespace fuzz_support
