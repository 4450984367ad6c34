#include "failure.h"

#include <cstring>
#include <utility>

#include "run_log.h"

namespace kelvorin {
namespace {

bool StartsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Whether text begins with a line of the catalogue or of a diagnostic record.
bool IsCatalogueLine(const std::string& text) {
  for (const FailureLine& line : kFailureLines) {
    if (line.text[0] != '\0' && StartsWith(text, line.text)) return true;
  }
  return StartsWith(text, kSqlNativeLabel) || StartsWith(text, kSqlMessageLabel);
}

}  // namespace

bool Fail(StepFailure* failure, Failure what, std::string value, const OsCause& cause) {
  if (failure->what == Failure::kNone) *failure = {what, std::move(value), cause};
  return false;
}

std::string FailureText(const StepFailure& failure) {
  std::string text = LineOf(failure.what).text;
  return failure.value.empty() ? text : text + " " + failure.value;
}

std::string FailureGroup(const StepFailure& failure) {
  return LineOf(failure.what).path_follows ? LineOf(failure.what).text : FailureText(failure);
}

void LogFailure(const StepFailure& failure) {
  if (failure.what == Failure::kNone) return;
  if (failure.what != Failure::kSql)
    Log().WritePair(LineOf(failure.what).text, failure.value.c_str());
  const OsCause& cause = failure.cause;
  if (cause.status.code == 0) return;
  char reason[300] = "ERROR: ";
  platform::Describe(cause.status.code, reason + 7, sizeof reason - 7);
  std::string where =
      std::string("[") + kOsCallNames[static_cast<int>(cause.call)] + " " + cause.path + "]";
  Log().WritePair(reason, where.c_str());
}

bool IsCauseLine(const std::string& text) {
  if (!StartsWith(text, "ERROR: ") || IsCatalogueLine(text) || text.back() != ']') return false;
  const std::size_t bracket = text.find(" [");
  if (bracket == std::string::npos) return false;
  for (const char* call : kOsCallNames) {
    if (call[0] != '\0' && text.compare(bracket + 2, std::strlen(call), call) == 0 &&
        text.compare(bracket + 2 + std::strlen(call), 1, " ") == 0) {
      return true;
    }
  }
  return false;
}

}  // namespace kelvorin
