// A growable text of 8-bit bytes that the merge is built in.
#ifndef KELVORIN_MERGE_MERGE_BUFFER_H_
#define KELVORIN_MERGE_MERGE_BUFFER_H_

#include <cstddef>
#include <cstdint>
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
      char* to = data_ + size_;
      size_ += n;
      if (n <= 16) return CopyShort(to, bytes, n);
      std::memcpy(to, bytes, n);
      return;
    }
    AppendGrowing(bytes, n);
  }
  void AppendByte(char byte) { Append(&byte, 1); }
  // Makes room for extra more bytes in one step, so that appending them
  // moves nothing; failing as Append does.
  void Reserve(std::size_t extra) { (void)Grow(extra); }
  // Forgets the text, keeping the room.
  void Clear() { size_ = 0; }
  // Turns every CR and LF from byte from on into a space.
  void BlankLineBreaks(std::size_t from);

  bool failed() const { return failed_; }
  // The size() bytes so far, owned by the buffer.
  const char* text() const { return data_ ? data_ : ""; }
  std::size_t size() const { return size_; }

 private:
  bool Grow(std::size_t extra);
  // Most appends are a few bytes (a space, a short value): copied inline,
  // as two overlapping words, not by a call.
  static void CopyShort(char* to, const char* from, std::size_t n) {
    if (n >= 8) return CopyEnds<std::uint64_t>(to, from, n);
    if (n >= 4) return CopyEnds<std::uint32_t>(to, from, n);
    if (n == 0) return;
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
  template <typename Word>
  static void CopyEnds(char* to, const char* from, std::size_t n) {
    Word head, tail;
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
  }
  void AppendGrowing(const char* bytes, std::size_t n);

  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool failed_ = false;
};

}  // namespace kelvorin

#endif  // KELVORIN_MERGE_MERGE_BUFFER_H_
