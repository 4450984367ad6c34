#include "log_summary.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <map>
#include <vector>

#include "failure.h"
#include "log_lines.h"
#include "run_log.h"

namespace kelvorin {
namespace {

// A moment as a number that sorts like time: minutes since 1 March of year 0
// times 60 plus the second. -1 for text that is no "hh:mm:ss dd-mm-yyyy".
long long Moment(const std::string& stamp) {
  int h, m, s, day, month, year;
  char tail;
  if (std::sscanf(stamp.c_str(), "%2d:%2d:%2d %2d-%2d-%4d%c", &h, &m, &s, &day, &month, &year,
                  &tail) != 6) {
    return -1;
  }
  if (h > 23 || m > 59 || s > 60 || day < 1 || day > 31 || month < 1 || month > 12) return -1;
  // Days from a fixed origin, counting March as the first month so that the
  // leap day falls at the end of a year.
  long long y = month <= 2 ? year - 1 : year;
  long long days = 365 * y + y / 4 - y / 100 + y / 400 + (153 * ((month + 9) % 12) + 2) / 5 + day;
  return ((days * 24 + h) * 60 + m) * 60 + s;
}

bool StartsWith(const std::string& text, const char* prefix) {
  return text.rfind(prefix, 0) == 0;
}

// The error line grouped with others of its kind: a path that follows the
// line, which differs from message to message, is dropped.
std::string ErrorGroup(const std::string& text) {
  for (const FailureLine& line : kFailureLines) {
    if (line.path_follows && StartsWith(text, line.text)) return line.text;
  }
  return text;
}

// Lines that only follow the failure of a run: the rest of a diagnostic
// record, the OS's reason, and what the error policy could not do.
bool FollowsCause(const std::string& text) {
  return StartsWith(text, kSqlNativeLabel) || StartsWith(text, kSqlMessageLabel) ||
         IsCauseLine(text) || StartsWith(text, LineOf(Failure::kDelete).text) ||
         StartsWith(text, LineOf(Failure::kQuarantine).text);
}

struct Tally {
  long runs = 0, completed = 0, deleted = 0, moved = 0;
  std::map<std::string, long> causes;
  std::map<long long, long> runs_by_minute;
  long long first = -1, last = -1;
  std::string first_stamp, last_stamp;
};

void Count(Tally& t, long long moment, const std::string& stamp, const std::string& text) {
  if (t.first < 0) t.first = moment, t.first_stamp = stamp;
  t.last = moment, t.last_stamp = stamp;
  if (StartsWith(text, kProcessLine)) ++t.runs, ++t.runs_by_minute[moment / 60];
  if (text == kCompleteLine) ++t.completed;
  if (text == kDeletedLine) ++t.deleted;
  if (StartsWith(text, kMovedLine)) ++t.moved;
  if (StartsWith(text, "ERROR: ") && !FollowsCause(text)) ++t.causes[ErrorGroup(text)];
}

// The minute between the first and the last run with the fewest runs started.
std::string SlowestMinute(const Tally& t, const std::map<long long, std::string>& names) {
  if (t.runs_by_minute.empty()) return "none";
  long long from = t.runs_by_minute.begin()->first, to = t.runs_by_minute.rbegin()->first;
  auto count = [&](long long m) {
    auto it = t.runs_by_minute.find(m);
    return it == t.runs_by_minute.end() ? 0 : it->second;
  };
  long long slowest = from;
  for (long long minute = from; minute <= to; ++minute) {
    if (count(minute) < count(slowest)) slowest = minute;
  }
  std::string name = names.count(slowest) ? names.at(slowest) : "a minute without a log line";
  return name + ", " + std::to_string(count(slowest)) + " runs";
}

// Appends text made from format and its values to out.
template <typename... Values>
void Append(std::string* out, const char* format, Values... values) {
  char line[600];
  std::snprintf(line, sizeof line, format, values...);
  *out += line;
}

}  // namespace

int SummariseLog(const std::string& log, const std::string& since, const std::string& until,
                 std::string* out) {
  long long from = 0, to = LLONG_MAX;
  if (!since.empty() && (from = Moment(since)) < 0) return 2;
  if (!until.empty() && (to = Moment(until)) < 0) return 2;
  Tally t;
  std::map<long long, std::string> minute_names;  // "hh:mm dd-mm-yyyy"
  for (std::size_t at = 0, end; at < log.size(); at = end + 2) {
    end = std::min(log.find("\r\n", at), log.size());
    const std::string line = log.substr(at, end - at);
    const std::string stamp = line.substr(0, kStampLength - 1);
    long long moment = line.size() >= kStampLength ? Moment(stamp) : -1;
    if (moment < from || moment > to) continue;  // continuation lines have no stamp: -1
    minute_names.emplace(moment / 60, line.substr(0, 5) + line.substr(8, 11));
    Count(t, moment, stamp, line.substr(kStampLength));
  }
  // A window may cut a run off from its end: no run counts as failed twice.
  const long failed = std::max(0L, t.runs - t.completed);
  if (t.first < 0) {
    *out += "no entries\n";
    return 0;
  }
  Append(out, "entries from %s to %s\n", t.first_stamp.c_str(), t.last_stamp.c_str());
  Append(out, "  runs        %8ld\n  completed   %8ld\n  failed      %8ld\n", t.runs, t.completed,
         failed);
  for (const auto& [cause, count] : t.causes) Append(out, "    %8ld  %s\n", count, cause.c_str());
  Append(out, "  deleted     %8ld\n  moved       %8ld\n", t.deleted, t.moved);
  Append(out, "  slowest minute: %s\n", SlowestMinute(t, minute_names).c_str());
  return failed > 0 ? 1 : 0;
}

}  // namespace kelvorin
