// Why a step of a run failed, as a value: what failed (its line in the
// catalogue of log_lines.h) and, where the OS refused a call, the OS's own
// reason. The steps return it; the run logs it, kelvorin-check reads it.
#ifndef KELVORIN_LOG_FAILURE_H_
#define KELVORIN_LOG_FAILURE_H_

#include <string>

#include "log_lines.h"
#include "platform.h"

namespace kelvorin {

// An OS call that failed: which, on what path, and the OS's reason.
struct OsCause {
  OsCall call = OsCall::kNone;
  platform::Status status;
  std::string path;
};

struct StepFailure {
  Failure what = Failure::kNone;
  std::string value;  // follows the line after one space: a path, an SQL state; "" none
  OsCause cause;      // status.code 0: the OS had no part in it
};

// Records what failed in *failure, with the OS call behind it if any, unless
// a failure is recorded there already: a run's failure is its first. Always
// false, so that a step can end with `return Fail(...)`.
bool Fail(StepFailure* failure, Failure what, std::string value = {}, const OsCause& cause = {});

// The failure's line as the log has it: its catalogue line, then its value.
std::string FailureText(const StepFailure& failure);

// What failures of one kind share: the line, and its value unless that is a
// path.
std::string FailureGroup(const StepFailure& failure);

// Logs the failure's line, then, when the OS refused a call, one more:
// "ERROR: <the OS's reason> [<call> <path>]". A driver's diagnostics
// (Failure::kSql) were logged as they came: nothing is added to them.
void LogFailure(const StepFailure& failure);

// Whether text (a log entry without its stamp) is such a cause line.
bool IsCauseLine(const std::string& text);

}  // namespace kelvorin

#endif  // KELVORIN_LOG_FAILURE_H_
