// Settings: every value of the INI file beside the executable, read once per
// run and only read afterwards.
#ifndef KELVORIN_SETTINGS_SETTINGS_H_
#define KELVORIN_SETTINGS_SETTINGS_H_

#include <cstddef>

#include "failure.h"

namespace kelvorin {

// Capacities in bytes, NUL included.
constexpr std::size_t kTextValueCapacity = 1000;  // Source, Username, Password, marker
constexpr std::size_t kOptionCapacity = 530;      // Rowname and each [Options] value
constexpr std::size_t kRequestCapacity = 360;     // the query file's path

// Seconds a query may take when the INI does not say: far above a normal
// mailing's query, far below a host's patience.
constexpr int kDefaultQueryTimeout = 60;

struct Settings {
  char Source[kTextValueCapacity] = {};
  char Username[kTextValueCapacity] = {};
  char Password[kTextValueCapacity] = {};
  char BlockMarker[kTextValueCapacity] = {};  // "%" + Rowname + "%"
  char Request[kRequestCapacity] = {};        // resolved query file path
  bool DeleteOnErrors = true;
  bool SkipSpaces = true;
  int FormatLeft = 0;
  int FormatRight = 0;
  bool HeaderGuard = true;                 // values in the host's header lines stay on their line
  char Quarantine[kRequestCapacity] = {};  // folder for failed messages; empty: delete them
  bool QuarantineTooLong = false;          // set, but too long to be held: Quarantine is empty
  // Seconds the query may take; 0: no limit.
  int QueryTimeout = kDefaultQueryTimeout;
};

// Whether the plug-in reads value as on for the [Options] flag key:
// DeleteOnErrors and SkipSpaces are on only for "Yes", HeaderGuard is off only
// for "No" (ASCII case ignored, the whole value).
bool FlagIsOn(const char* key, const char* value);

// Fills *out from the INI file at ini_path; a bare Request name is taken from
// directory (the program's folder, with its trailing separator). Either may
// be empty when it cannot be had. True when every required key was read;
// false with the configuration error in *failure, *out filled up to that key.
[[nodiscard]] bool ReadSettings(const char* ini_path, const char* directory, Settings* out,
                                StepFailure* failure);

}  // namespace kelvorin

#endif  // KELVORIN_SETTINGS_SETTINGS_H_
