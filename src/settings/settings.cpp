#include "settings.h"

#include <climits>
#include <cstring>

#include "paths.h"
#include "platform.h"
#include "run_log.h"

namespace kelvorin {
namespace {

constexpr char kDatabase[] = "Database";
constexpr char kOptions[] = "Options";
constexpr char kSourceError[] = "ERROR: configuration file reading error [Database -> Source]";
constexpr char kRequestError[] = "ERROR: configuration file reading error [Database -> Request]";

// Paths worked out from the module path for one ReadSettings call.
struct Places {
  char ini[platform::kMaxPath + 8];
  char directory[platform::kMaxPath + 1];
};

std::size_t Read(const char* section, const char* key, const char* fallback, char* out,
                 std::size_t cap, const Places& places) {
  if (places.ini[0] == '\0') {  // no INI path: as if the file were missing
    std::size_t n = std::strlen(fallback);
    std::memcpy(out, fallback, n + 1);
    return n;
  }
  return platform::ReadProfileString(section, key, fallback, out, cap, places.ini);
}

void BuildMarker(const char* rowname, char* marker) {
  std::size_t n = std::strlen(rowname);
  marker[0] = '%';
  std::memcpy(marker + 1, rowname, n);
  marker[n + 1] = '%';
  marker[n + 2] = '\0';
}

// Joins a bare file name to the program directory. Returns false when the
// joined path does not fit: a cut path could name some other file.
bool ResolveRequest(const Places& places, char* request) {
  if (platform::HasSeparator(request)) return true;
  std::size_t dir_len = std::strlen(places.directory);
  std::size_t name_len = std::strlen(request);
  if (dir_len == 0 || dir_len + name_len + 1 > kRequestCapacity) return false;
  std::memmove(request + dir_len, request, name_len + 1);
  std::memcpy(request, places.directory, dir_len);
  return true;
}

int ReadFlag(const char* key, const Places& places) {
  char value[kOptionCapacity];
  Read(kOptions, key, "Yes", value, sizeof value, places);
  return IsYes(value) ? 1 : 0;
}

int ReadNumber(const char* key, const Places& places) {
  char value[kOptionCapacity];
  Read(kOptions, key, "", value, sizeof value, places);
  return DecimalValue(value);
}

int ReadDatabase(Settings& s, const Places& places) {
  if (Read(kDatabase, "Source", "", s.Source, sizeof s.Source, places) == 0) {
    g_run_log.WritePair(kSourceError, places.ini);
    return 0;
  }
  Read(kDatabase, "Username", "", s.Username, sizeof s.Username, places);
  Read(kDatabase, "Password", "", s.Password, sizeof s.Password, places);
  char rowname[kOptionCapacity];
  Read(kDatabase, "Rowname", "kelvorin", rowname, sizeof rowname, places);
  BuildMarker(rowname, s.BlockMarker);
  if (Read(kDatabase, "Request", "", s.Request, sizeof s.Request, places) == 0 ||
      !ResolveRequest(places, s.Request)) {
    s.Request[0] = '\0';
    g_run_log.WritePair(kRequestError, places.ini);
    return 0;
  }
  return 1;
}

}  // namespace

Settings g_settings;

bool IsYes(const char* value) {
  const char* yes = "yes";
  for (int i = 0; i < 4; ++i) {
    char c = value[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != yes[i]) return false;
  }
  return true;
}

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

int ReadSettingsFor(const char* module_path) {
  Places places;
  if (!platform::SiblingPath(module_path, "INI", places.ini, sizeof places.ini)) {
    places.ini[0] = '\0';
  }
  if (module_path == nullptr ||
      !platform::DirectoryOf(module_path, places.directory, sizeof places.directory)) {
    places.directory[0] = '\0';
  }
  Settings& s = g_settings;
  if (!ReadDatabase(s, places)) return 0;
  s.DeleteOnErrors = ReadFlag("DeleteOnErrors", places);
  s.SkipSpaces = ReadFlag("SkipSpaces", places);
  s.FormatLeft = ReadNumber("FormatLeft", places);
  s.FormatRight = ReadNumber("FormatRight", places);
  return 1;
}

int ReadSettings() {
  char module[platform::kMaxPath + 1];
  if (platform::ModulePath(module, sizeof module) == 0) return ReadSettingsFor(nullptr);
  return ReadSettingsFor(module);
}

}  // namespace kelvorin
