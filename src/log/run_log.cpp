#include "run_log.h"

#include <cstdio>
#include <cstring>

#include "paths.h"

namespace kelvorin {
namespace {

// Formatted entry: the time stamp, the text, CR LF, NUL.
constexpr std::size_t kEntryCapacity = 2200;
constexpr std::size_t kPairCapacity = kMaxLogText + 1;

// Another instance holds the file only for the microseconds of one line, so
// short sleeps adding up to about two seconds outlast any real contention.
constexpr unsigned kBusySleepMs = 10;
constexpr int kBusyTries = 200;

// A line that cannot be written is lost: logging never fails a run.
void AppendWhenFree(const char* path, const char* entry, std::size_t length, platform::File* file) {
  if (path[0] == '\0') return;
  platform::Status why;
  for (int attempt = 0;; ++attempt) {
    if (platform::AppendPiece(path, entry, length, file, &why)) return;
    if (why.kind != platform::Status::kBusy || attempt >= kBusyTries) return;
    platform::SleepMilliseconds(kBusySleepMs);
  }
}

}  // namespace

RunLog& Log() {
  static RunLog log;
  return log;
}

RunLog::RunLog() {
  path_[0] = '\0';
}

void RunLog::SetObserver(Observer observer, void* context) {
  observer_ = observer;
  context_ = context;
}

void RunLog::SetPath(const char* path) {
  file_.Close();
  if (path == nullptr || std::strlen(path) >= sizeof path_) {
    path_[0] = '\0';
    return;
  }
  std::memcpy(path_, path, std::strlen(path) + 1);
}

void RunLog::Write(const char* text) {
  if (text == nullptr || text[0] == '\0' || std::strlen(text) > kMaxLogText) return;
  if (path_[0] == '\0' && observer_ == nullptr) return;
  char entry[kEntryCapacity];
  platform::LocalTime t = platform::Now();
  int len = std::snprintf(entry, sizeof entry, "%02i:%02i:%02i %02i-%02i-%i %s\r\n", t.hour,
                          t.minute, t.second, t.day, t.month, t.year, text);
  if (len <= 0 || static_cast<std::size_t>(len) >= sizeof entry) return;
  AppendWhenFree(path_, entry, static_cast<std::size_t>(len), &file_);
  if (observer_ != nullptr) observer_(context_, entry, static_cast<std::size_t>(len));
}

void RunLog::WritePair(const char* label, const char* value) {
  if (value == nullptr || value[0] == '\0') return Write(label);
  std::size_t label_len = label == nullptr ? 0 : std::strlen(label);
  std::size_t value_len = std::strlen(value);
  if (label_len > 0 ? label_len + value_len >= kMaxPairText : value_len > kMaxLogText) return;
  char line[kPairCapacity];
  std::size_t at = 0;
  if (label_len > 0) {
    std::memcpy(line, label, label_len);
    line[label_len] = ' ';
    at = label_len + 1;
  }
  // A value comes from outside the operator's files (a path, an address, a
  // driver's message quoting a database value): a line break in it would
  // start a line of its own, stamped like ours ("... Complete!").
  for (std::size_t i = 0; i <= value_len; ++i) {
    line[at + i] = value[i] == '\r' || value[i] == '\n' ? ' ' : value[i];
  }
  Write(line);
}

void InitLogPath(const char* module_path) {
  char path[kLogPathCapacity];
  Log().SetPath(platform::SiblingPath(module_path, "LOG", path, sizeof path) ? path : nullptr);
}

}  // namespace kelvorin
