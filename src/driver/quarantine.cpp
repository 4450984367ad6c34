#include "quarantine.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "paths.h"

namespace kelvorin {
namespace {

// Names tried before giving up: far more than runs that fail at once.
constexpr int kMaxTries = 10000;
constexpr char kReasonEnd[] = ".reason";

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

// The message's new path in base, try n: its name, with ".N" added from the
// second try on. A name with no room left for ".reason" within the longest
// file name loses bytes at its end (never inside a UTF-8 character): the
// .reason file names the message it explains by its full path, and the moves,
// which never replace, keep cut names apart.
bool MovedName(const char* base, const char* name, int n, char* out, std::size_t cap) {
  char suffix[16] = "";
  if (n > 0) std::snprintf(suffix, sizeof suffix, ".%d", n);
  const std::size_t room = platform::kMaxName - std::strlen(suffix) - (sizeof kReasonEnd - 1);
  std::size_t stem = std::strlen(name);
  if (stem > room) {
    stem = room;
    while (stem > 0 && (static_cast<unsigned char>(name[stem]) & 0xC0) == 0x80) --stem;
  }
  return Format(out, cap, "%s%.*s%s", base, static_cast<int>(stem), name, suffix);
}

}  // namespace

bool QuarantineHolds(const char* path, const char* folder, const char* directory) {
  char base[platform::kMaxPath + 1];
  const std::string own(path, static_cast<std::size_t>(platform::BaseName(path) - path));
  return FolderPath(folder, directory, base, sizeof base) &&
         platform::SameFile(base, own.empty() ? "." : own.c_str());
}

bool QuarantineMessage(const char* message_path, const char* folder, const char* directory,
                       char* moved_to, std::size_t cap, platform::File* reason, OsCause* cause) {
  char base[platform::kMaxPath + 1];
  if (!FolderPath(folder, directory, base, sizeof base)) return false;
  if (QuarantineHolds(message_path, folder, directory)) return false;
  const char* name = platform::BaseName(message_path);
  for (int n = 0; n < kMaxTries; ++n) {
    char reason_path[platform::kMaxPath + 16];
    if (!MovedName(base, name, n, moved_to, cap) ||
        !Format(reason_path, sizeof reason_path, "%s%s", moved_to, kReasonEnd)) {
      return false;
    }
    *cause = {OsCall::kCreate, {}, reason_path};
    if (!platform::CreateNew(reason_path, reason, &cause->status)) {
      if (cause->status.kind == platform::Status::kExists) continue;
      return false;
    }
    *cause = {OsCall::kMove, {}, message_path};
    if (platform::MoveNoReplace(message_path, moved_to, &cause->status)) return true;
    platform::Close(*reason);
    (void)platform::RemoveFile(reason_path);
    if (cause->status.kind != platform::Status::kExists) return false;
  }
  return false;
}

}  // namespace kelvorin
