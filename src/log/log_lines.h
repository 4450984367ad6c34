// Every line of the log that kelvorin-check reads back, and every "ERROR: "
// line of the program, once: operators' tools match them byte for byte
// (misspellings included).
#ifndef KELVORIN_LOG_LOG_LINES_H_
#define KELVORIN_LOG_LOG_LINES_H_

namespace kelvorin {

inline constexpr char kProcessLine[] = "+++ Process:";  // followed by the message path
inline constexpr char kCompleteLine[] = "Complete!";
inline constexpr char kDeletedLine[] = "--- Errors occured, message was deleted";
inline constexpr char kMovedLine[] = "--- Errors occured, message was moved to";  // + path

// What a step of a run, or the error policy after it, can fail with.
enum class Failure {
  kNone,
  kSourceSetting,
  kRequestSetting,
  kLoad,
  kNotAFile,
  kRecipient,
  kSqlInit,
  kSqlHandle,
  kSql,  // a driver's diagnostic records, logged as they come
  kNoColumns,
  kNoData,
  kOutOfMemory,
  kValueTooLong,
  kNulInValue,
  kRowsTooLarge,
  kOverwrite,
  kWrite,
  kRecipientChanged,
  kDelete,
  kQuarantine,
};

// A failure's line, and what follows it after one space: a path (which
// differs from message to message, so failures are grouped without it), or
// another value that tells failures of one line apart.
struct FailureLine {
  const char* text;
  bool path_follows;
};

// The catalogue, in the order of Failure.
inline constexpr FailureLine kFailureLines[] = {
    {"", false},
    {"ERROR: configuration file reading error [Database -> Source]", true},   // + INI path
    {"ERROR: configuration file reading error [Database -> Request]", true},  // + INI path
    {"ERROR: can't load file", true},
    {"ERROR: not a regular file", true},
    {"ERROR: can't extract recipient email from message", false},
    {"ERROR: can't initialize SQL", false},
    {"ERROR: can't allocate SQL handle", false},
    {"ERROR: SQL state -", false},  // + the first record's state
    {"ERROR: SQL statement error, no coluns was retrived.", false},
    {"ERROR: no data was retrived", false},
    {"ERROR: out of memory.", false},
    {"ERROR: a value is longer than 65535 bytes", false},
    {"ERROR: a value holds a NUL byte (column", false},  // + "n)"
    {"ERROR: the rows are larger than 256 MiB", false},
    {"ERROR: can't overwrite message file", false},
    {"ERROR: file writing error", false},
    {"ERROR: recipient line changed by the merge", false},
    {"ERROR: can't delete message file", true},
    {"ERROR: can't quarantine message file", true},
};
static_assert(sizeof kFailureLines / sizeof kFailureLines[0] ==
                  static_cast<int>(Failure::kQuarantine) + 1,
              "one line per failure");

inline constexpr const FailureLine& LineOf(Failure f) {
  return kFailureLines[static_cast<int>(f)];
}

// The rest of an ODBC diagnostic record, after its state line.
inline constexpr char kSqlNativeLabel[] = "ERROR: SQL native error is";
inline constexpr char kSqlMessageLabel[] = "ERROR: SQL message -";

// The OS calls whose failures a run reports with the OS's own reason, on a
// line after the failure's: "ERROR: " + the reason + " [" + the call's name +
// " " + its path + "]".
enum class OsCall { kNone, kOpen, kRead, kCreate, kWrite, kFlush, kRename, kDelete, kMove };
inline constexpr const char* kOsCallNames[] = {"",      "open",   "read",   "create", "write",
                                               "flush", "rename", "delete", "move"};
static_assert(sizeof kOsCallNames / sizeof kOsCallNames[0] == static_cast<int>(OsCall::kMove) + 1,
              "one name per call");

}  // namespace kelvorin

#endif  // KELVORIN_LOG_LOG_LINES_H_
