// Settings: every value of the INI file beside the executable, read once per
// run and only read afterwards.
#ifndef KELVORIN_SETTINGS_SETTINGS_H_
#define KELVORIN_SETTINGS_SETTINGS_H_

#include <cstddef>

namespace kelvorin {

// Capacities in bytes, NUL included.
constexpr std::size_t kTextValueCapacity = 1000;  // Source, Username, Password, marker
constexpr std::size_t kOptionCapacity = 530;      // Rowname and each [Options] value
constexpr std::size_t kRequestCapacity = 360;     // the query file's path

struct Settings {
  char Source[kTextValueCapacity] = {};
  char Username[kTextValueCapacity] = {};
  char Password[kTextValueCapacity] = {};
  char BlockMarker[kTextValueCapacity] = {};  // "%" + Rowname + "%"
  char Request[kRequestCapacity] = {};        // resolved query file path
  int DeleteOnErrors = 1;
  int SkipSpaces = 1;
  int FormatLeft = 0;
  int FormatRight = 0;
};

// The process's settings; holds the initial values above until ReadSettings.
extern Settings g_settings;

// Fills g_settings from the INI file beside the executable. Returns 1 when
// every required key was read, 0 after logging the configuration error.
int ReadSettings();

// ReadSettings for a given executable path (null when it cannot be had), so
// tests can place the INI file where they like.
int ReadSettingsFor(const char* module_path);

// True when value equals "Yes", ASCII case ignored.
bool IsYes(const char* value);

// Decimal value as atoi reads it: leading white space, an optional sign, the
// digits up to the first other character; no digits give 0. Values beyond the
// 32-bit range saturate instead of overflowing.
int DecimalValue(const char* text);

}  // namespace kelvorin

#endif  // KELVORIN_SETTINGS_SETTINGS_H_
