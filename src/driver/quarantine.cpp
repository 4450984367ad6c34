#include "quarantine.h"

#include <cstdio>
#include <cstring>

#include "paths.h"

namespace kelvorin {
namespace {

// Names tried before giving up: far more than runs that fail at once.
constexpr int kMaxTries = 10000;

// Prints into out; false when the text does not fit, as a cut path would
// name some other file.
template <typename... Args>
bool Format(char* out, std::size_t cap, const char* format, Args... args) {
  int n = std::snprintf(out, cap, format, args...);
  return n >= 0 && static_cast<std::size_t>(n) < cap;
}

// The folder as a path of its own, ending in a separator.
bool FolderPath(const char* folder, const char* directory, char* out, std::size_t cap) {
  const char sep[] = {platform::kPathSeparator, '\0'};
  std::size_t len = std::strlen(folder);
  const char* end = len > 0 && folder[len - 1] == platform::kPathSeparator ? "" : sep;
  if (platform::HasSeparator(folder)) return Format(out, cap, "%s%s", folder, end);
  return directory[0] != '\0' && Format(out, cap, "%s%s%s", directory, folder, end);
}

}  // namespace

bool QuarantineMessage(const char* message_path, const char* folder, const char* directory,
                       char* moved_to, std::size_t cap, platform::File* reason) {
  char base[platform::kMaxPath + 1];
  if (!FolderPath(folder, directory, base, sizeof base)) return false;
  const char* name = platform::BaseName(message_path);
  for (int n = 0; n < kMaxTries; ++n) {
    char reason_path[platform::kMaxPath + 16];
    bool named = n == 0 ? Format(moved_to, cap, "%s%s", base, name)
                        : Format(moved_to, cap, "%s%s.%d", base, name, n);
    if (!named || !Format(reason_path, sizeof reason_path, "%s.reason", moved_to)) return false;
    platform::Status why = platform::Status::kFailed;
    if (!platform::CreateNew(reason_path, reason, &why)) {
      if (why == platform::Status::kExists) continue;
      return false;
    }
    if (platform::MoveNoReplace(message_path, moved_to, &why)) return true;
    platform::Close(*reason);
    (void)platform::RemoveFile(reason_path);
    if (why != platform::Status::kExists) return false;
  }
  return false;
}

}  // namespace kelvorin
