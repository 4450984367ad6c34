// A growable text of 8-bit bytes that the merge is built in.
#ifndef KELVORIN_MERGE_MERGE_BUFFER_H_
#define KELVORIN_MERGE_MERGE_BUFFER_H_

#include <cstddef>
#include <cstring>

namespace kelvorin {

class MergeBuffer {
 public:
  MergeBuffer() = default;
  ~MergeBuffer();
  MergeBuffer(const MergeBuffer&) = delete;
  MergeBuffer& operator=(const MergeBuffer&) = delete;

  // Appends n bytes. Once memory has run out, appends do nothing and
  // failed() is true: the text is then incomplete and must not be used.
  void Append(const char* bytes, std::size_t n) {
    // Most appends fit: only growing leaves the inline path.
    if (n < capacity_ - size_ && !failed_) {
      std::memcpy(data_ + size_, bytes, n);
      size_ += n;
      return;
    }
    AppendGrowing(bytes, n);
  }
  void AppendByte(char byte) { Append(&byte, 1); }
  // Turns every CR and LF from byte from on into a space.
  void BlankLineBreaks(std::size_t from);

  bool failed() const { return failed_; }
  // The size() bytes so far, owned by the buffer.
  const char* text() const { return data_ ? data_ : ""; }
  std::size_t size() const { return size_; }

 private:
  bool Reserve(std::size_t extra);
  void AppendGrowing(const char* bytes, std::size_t n);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool failed_ = false;
};

}  // namespace kelvorin

#endif  // KELVORIN_MERGE_MERGE_BUFFER_H_
