#include "merge_buffer.h"

#include <cstring>

#include "platform.h"

namespace kelvorin {
namespace {

constexpr std::size_t kFirstCapacity = 4096;

}  // namespace

MergeBuffer::~MergeBuffer() {
  platform::Release(data_);
}

// Room for extra more bytes and a NUL: at least twice the room so far, which
// keeps a merge of n bytes at O(n) copying in all, or exactly what is asked
// when that is more.
bool MergeBuffer::Grow(std::size_t extra) {
  if (failed_) return false;
  std::size_t need = size_ + extra + 1;
  if (need <= capacity_ && need > size_) return true;
  std::size_t capacity = capacity_ == 0              ? kFirstCapacity
                         : capacity_ * 2 > capacity_ ? capacity_ * 2
                                                     : need;
  if (capacity < need) capacity = need;
  char* grown = need > size_ && capacity >= need
                    ? static_cast<char*>(platform::Reallocate(data_, capacity))
                    : nullptr;  // need wrapped around: no size_t holds it
  if (grown == nullptr) {
    failed_ = true;
    return false;
  }
  data_ = grown;
  capacity_ = capacity;
  return true;
}

void MergeBuffer::AppendGrowing(const char* bytes, std::size_t n) {
  if (n == 0 || !Grow(n)) return;
  std::memcpy(data_ + size_, bytes, n);
  size_ += n;
}

void MergeBuffer::BlankLineBreaks(std::size_t from) {
  for (std::size_t i = from; i < size_; ++i) {
    if (data_[i] == '\r' || data_[i] == '\n') data_[i] = ' ';
  }
}

}  // namespace kelvorin
