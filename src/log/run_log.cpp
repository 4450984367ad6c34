#include "run_log.h"

#include <cstdio>
#include <cstring>

#include "paths.h"

namespace kelvorin {
namespace {

// Formatted entry: 20 characters of time stamp, the text, CR LF, NUL.
constexpr std::size_t kEntryCapacity = 2200;
constexpr std::size_t kPairCapacity = 2000;

// Another instance holds the file only for the microseconds of one line, so
// short sleeps adding up to about two seconds outlast any real contention.
constexpr unsigned kBusySleepMs = 10;
constexpr int kBusyTries = 200;

platform::File OpenWhenFree(const char* path) {
  platform::Status status = platform::Status::kFailed;
  for (int attempt = 0;; ++attempt) {
    platform::File file = platform::OpenForAppend(path, &status);
    if (file != platform::kNoFile) return file;
    if (status != platform::Status::kBusy || attempt >= kBusyTries) return platform::kNoFile;
    platform::SleepMilliseconds(kBusySleepMs);
  }
}

}  // namespace

RunLog g_run_log;

SectionLock::SectionLock(bool initialise_now) {
  if (initialise_now) Init();
}

SectionLock::~SectionLock() {
  Delete();
}

void SectionLock::Init() {
  if (initialised_) return;
  platform::LockInit(&section_);
  initialised_ = 1;
}

void SectionLock::Delete() {
  if (!initialised_) return;
  platform::LockDelete(&section_);
  initialised_ = 0;
}

void SectionLock::Enter() {
  if (initialised_) platform::LockEnter(&section_);
}

void SectionLock::Leave() {
  if (initialised_) platform::LockLeave(&section_);
}

RunLog::RunLog() : SectionLock(true) {
  path_[0] = '\0';
}

void RunLog::SetPath(const char* path) {
  if (path == nullptr || std::strlen(path) >= sizeof path_) {
    path_[0] = '\0';
    return;
  }
  std::memcpy(path_, path, std::strlen(path) + 1);
}

void RunLog::Write(const char* text) {
  if (text == nullptr || text[0] == '\0' || std::strlen(text) > kMaxLogText) return;
  if (path_[0] == '\0') return;
  char entry[kEntryCapacity];
  platform::LocalTime t = platform::Now();
  int len = std::snprintf(entry, sizeof entry, "%02i:%02i:%02i %02i-%02i-%i %s\r\n", t.hour,
                          t.minute, t.second, t.day, t.month, t.year, text);
  if (len <= 0 || static_cast<std::size_t>(len) >= sizeof entry) return;
  Enter();
  platform::File file = OpenWhenFree(path_);
  if (file != platform::kNoFile) {
    platform::WriteAll(file, entry, static_cast<std::size_t>(len));
    platform::Close(file);
  }
  Leave();
}

void RunLog::WritePair(const char* label, const char* value) {
  if (value == nullptr || value[0] == '\0') return Write(label);
  if (label == nullptr || label[0] == '\0') return Write(value);
  std::size_t label_len = std::strlen(label);
  std::size_t value_len = std::strlen(value);
  if (label_len + value_len >= kMaxPairText) return;
  char line[kPairCapacity];
  std::memcpy(line, label, label_len);
  line[label_len] = ' ';
  std::memcpy(line + label_len + 1, value, value_len + 1);
  Write(line);
}

void InitLogPath() {
  char module[platform::kMaxPath + 1];
  char path[kLogPathCapacity];
  if (platform::ModulePath(module, sizeof module) == 0 ||
      !platform::SiblingPath(module, "LOG", path, sizeof path)) {
    g_run_log.SetPath(nullptr);
    return;
  }
  g_run_log.SetPath(path);
}

}  // namespace kelvorin
