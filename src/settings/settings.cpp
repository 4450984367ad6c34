#include "settings.h"

#include <climits>
#include <cstring>

#include "paths.h"
#include "platform.h"

namespace kelvorin {
namespace {

constexpr char kDatabase[] = "Database";
constexpr char kOptions[] = "Options";

void BuildMarker(const char* rowname, char* marker) {
  std::size_t n = std::strlen(rowname);
  marker[0] = '%';
  std::memcpy(marker + 1, rowname, n);
  marker[n + 1] = '%';
  marker[n + 2] = '\0';
}

// Joins a bare file name to the program directory. Returns false when the
// joined path does not fit: a cut path could name some other file.
bool ResolveRequest(const char* directory, char* request) {
  if (platform::HasSeparator(request)) return true;
  std::size_t dir_len = std::strlen(directory);
  std::size_t name_len = std::strlen(request);
  if (dir_len == 0 || dir_len + name_len + 1 > kRequestCapacity) return false;
  std::memmove(request + dir_len, request, name_len + 1);
  std::memcpy(request, directory, dir_len);
  return true;
}

// Whether value is word (lower case), ASCII case ignored: the whole value,
// so that "Yesterday" is no "Yes".
bool IsWord(const char* value, const char* word) {
  for (;; ++value, ++word) {
    char c = *value;
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != *word) return false;
    if (c == '\0') return true;
  }
}

// A number as atoi reads it: leading white space, an optional sign, the digits
// up to the first other character; no digits give 0. Values beyond the
// 32-bit range saturate instead of overflowing.
int DecimalValue(const char* text) {
  while (*text == ' ' || (*text >= '\t' && *text <= '\r')) ++text;
  bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  long long value = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*text - '0');
  }
  if (negative) value = -value;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

bool ReadFlag(const platform::Profile& ini, const char* key) {
  char value[kOptionCapacity];
  ini.Read(kOptions, key, "Yes", value, sizeof value);
  return FlagIsOn(key, value);
}

int ReadNumber(const platform::Profile& ini, const char* key) {
  char value[kOptionCapacity];
  ini.Read(kOptions, key, "", value, sizeof value);
  return DecimalValue(value);
}

// Seconds: a value without digits or below 0 keeps the default, so a typo
// cannot take away the limit that keeps a stalled server from holding the
// host's queue; only an explicit 0 removes it.
int ReadSeconds(const platform::Profile& ini, const char* key, int fallback) {
  char value[kOptionCapacity];
  ini.Read(kOptions, key, "", value, sizeof value);
  int seconds = DecimalValue(value);
  return std::strpbrk(value, "0123456789") == nullptr || seconds < 0 ? fallback : seconds;
}

bool ReadDatabase(const platform::Profile& ini, const char* ini_path, const char* directory,
                  Settings& s, StepFailure* failure) {
  if (ini.Read(kDatabase, "Source", "", s.Source, sizeof s.Source) == 0) {
    return Fail(failure, Failure::kSourceSetting, ini_path);
  }
  ini.Read(kDatabase, "Username", "", s.Username, sizeof s.Username);
  ini.Read(kDatabase, "Password", "", s.Password, sizeof s.Password);
  char rowname[kOptionCapacity];
  ini.Read(kDatabase, "Rowname", "kelvorin", rowname, sizeof rowname);
  BuildMarker(rowname, s.BlockMarker);
  if (ini.Read(kDatabase, "Request", "", s.Request, sizeof s.Request) == 0 ||
      !ResolveRequest(directory, s.Request)) {
    s.Request[0] = '\0';
    return Fail(failure, Failure::kRequestSetting, ini_path);
  }
  return true;
}

}  // namespace

bool FlagIsOn(const char* key, const char* value) {
  // The header guard keeps one recipient's mail from reaching another, so a
  // value that is not plainly "No" ("On", "1", "Yes ; keep it") keeps it on.
  if (IsWord(key, "headerguard")) return !IsWord(value, "no");
  return IsWord(value, "yes");
}

bool ReadSettings(const char* ini_path, const char* directory, Settings* out,
                  StepFailure* failure) {
  platform::Profile ini(ini_path);
  Settings& s = *out;
  if (!ReadDatabase(ini, ini_path, directory, s, failure)) return false;
  s.DeleteOnErrors = ReadFlag(ini, "DeleteOnErrors");
  s.SkipSpaces = ReadFlag(ini, "SkipSpaces");
  s.FormatLeft = ReadNumber(ini, "FormatLeft");
  s.FormatRight = ReadNumber(ini, "FormatRight");
  s.HeaderGuard = ReadFlag(ini, "HeaderGuard");
  char quarantine[kRequestCapacity + 1];  // one more byte tells a value that does not fit
  std::size_t n = ini.Read(kOptions, "Quarantine", "", quarantine, sizeof quarantine);
  s.QuarantineTooLong = n >= kRequestCapacity;
  std::memcpy(s.Quarantine, quarantine, s.QuarantineTooLong ? 0 : n + 1);
  s.QueryTimeout = ReadSeconds(ini, "QueryTimeout", kDefaultQueryTimeout);
  return true;
}

}  // namespace kelvorin
