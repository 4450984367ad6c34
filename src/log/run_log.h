// The run log: one time-stamped line per step of a run, in a file beside the
// executable that every instance appends to, a whole line at a time.
#ifndef KELVORIN_LOG_RUN_LOG_H_
#define KELVORIN_LOG_RUN_LOG_H_

#include <cstddef>

#include "platform.h"

namespace kelvorin {

// Longest text one line may carry; longer ones are not written.
constexpr int kMaxLogText = 2000;
// Label and value of a pair must together stay below this many characters.
constexpr int kMaxPairText = 1900;
// "hh:mm:ss dd-mm-yyyy " before the text of every entry.
constexpr std::size_t kStampLength = 20;
// The log path: the platform's longest path plus room for a ".LOG" suffix.
constexpr std::size_t kLogPathCapacity = platform::kMaxPath + 8;

class RunLog {
 public:
  // Called with every entry written ("hh:mm:ss dd-mm-yyyy text\r\n", length
  // bytes, not NUL-terminated), whether or not it reached the file.
  using Observer = void (*)(void* context, const char* entry, std::size_t length);

  RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Names the log file; null or a path that does not fit leaves it unnamed,
  // and an unnamed log writes no file.
  void SetPath(const char* path);

  // Hands every later entry to observer as well; null stops that. context is
  // borrowed: it must outlive the observing.
  void SetObserver(Observer observer, void* context);

  // Appends one line "hh:mm:ss dd-mm-yyyy text\r\n". Writes nothing for a null
  // or empty text or one over kMaxLogText characters. While another process
  // holds the file, waits about two seconds at most before giving the line up.
  void Write(const char* text);

  // Writes label, one space and value as one line; either part alone when the
  // other is null or empty; nothing when their lengths add up to kMaxPairText.
  // Every CR and LF of value is written as a space: a value cannot add lines.
  void WritePair(const char* label, const char* value);

 private:
  char path_[kLogPathCapacity];
  platform::File file_;  // between lines, where the platform keeps it open
  Observer observer_ = nullptr;
  void* context_ = nullptr;
};

// The one log of the process: every module reports through it.
RunLog& Log();

// Points Log() at the LOG file beside the executable at module_path. When
// that cannot be had (null, or too short to name a separate file), the log
// stays unnamed: nothing is ever written to the program's own file.
void InitLogPath(const char* module_path);

}  // namespace kelvorin

#endif  // KELVORIN_LOG_RUN_LOG_H_
