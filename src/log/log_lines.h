// Log lines that more than one module writes, or that kelvorin-check reads
// back from a log: one spelling each, since operators' tools match them
// byte for byte (misspellings included).
#ifndef KELVORIN_LOG_LOG_LINES_H_
#define KELVORIN_LOG_LOG_LINES_H_

namespace kelvorin {

inline constexpr char kProcessLine[] = "+++ Process:";  // followed by the message path
inline constexpr char kCompleteLine[] = "Complete!";
inline constexpr char kDeletedLine[] = "--- Errors occured, message was deleted";
inline constexpr char kMovedLine[] = "--- Errors occured, message was moved to";  // + path

inline constexpr char kLoadError[] = "ERROR: can't load file";                      // + path
inline constexpr char kDeleteError[] = "ERROR: can't delete message file";          // + path
inline constexpr char kQuarantineError[] = "ERROR: can't quarantine message file";  // + path
inline constexpr char kNotAFileError[] = "ERROR: not a regular file";               // + path
inline constexpr char kOverwriteError[] = "ERROR: can't overwrite message file";
inline constexpr char kOutOfMemory[] = "ERROR: out of memory.";
inline constexpr char kNoDataError[] = "ERROR: no data was retrived";

// An ODBC diagnostic record: three lines, the state first.
inline constexpr char kSqlStateLabel[] = "ERROR: SQL state -";
inline constexpr char kSqlNativeLabel[] = "ERROR: SQL native error is";
inline constexpr char kSqlMessageLabel[] = "ERROR: SQL message -";

}  // namespace kelvorin

#endif  // KELVORIN_LOG_LOG_LINES_H_
