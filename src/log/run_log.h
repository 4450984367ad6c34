// The run log: one time-stamped line per step of a run, in a file beside the
// executable, opened, appended to and closed for every line.
#ifndef KELVORIN_LOG_RUN_LOG_H_
#define KELVORIN_LOG_RUN_LOG_H_

#include "platform.h"

namespace kelvorin {

// A lock over the platform's in-process lock that may be left uninitialised;
// Enter and Leave do nothing then.
class SectionLock {
 public:
  explicit SectionLock(bool initialise_now);
  ~SectionLock();
  SectionLock(const SectionLock&) = delete;
  SectionLock& operator=(const SectionLock&) = delete;

  void Init();    // initialises unless already initialised
  void Delete();  // deletes if initialised
  void Enter();
  void Leave();

 private:
  int initialised_ = 0;
  platform::Lock section_;
};

// Longest text one line may carry; longer ones are not written.
constexpr int kMaxLogText = 2000;
// Label and value of a pair must together stay below this many characters.
constexpr int kMaxPairText = 1900;
// The log path: the platform's longest path plus room for a ".LOG" suffix.
constexpr std::size_t kLogPathCapacity = platform::kMaxPath + 8;

class RunLog : public SectionLock {
 public:
  RunLog();

  // Names the log file; null or a path that does not fit leaves it unnamed,
  // and an unnamed log writes nothing.
  void SetPath(const char* path);
  const char* path() const { return path_; }

  // Appends one line "hh:mm:ss dd-mm-yyyy text\r\n". Writes nothing for a null
  // or empty text or one over kMaxLogText characters. While another process
  // holds the file, waits about two seconds at most before giving the line up.
  void Write(const char* text);

  // Writes label, one space and value as one line; either part alone when the
  // other is null or empty; nothing when their lengths add up to kMaxPairText.
  void WritePair(const char* label, const char* value);

 private:
  char path_[kLogPathCapacity];
};

// The one log of the process, constructed before main runs.
extern RunLog g_run_log;

// Points g_run_log at the LOG file beside the executable. When the module path
// cannot be had, the log stays unnamed: nothing is ever written to the
// program's own file.
void InitLogPath();

}  // namespace kelvorin

#endif  // KELVORIN_LOG_RUN_LOG_H_
