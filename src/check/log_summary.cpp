#include "log_summary.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "failure.h"
#include "log_lines.h"
#include "run_log.h"

namespace kelvorin {
namespace {

constexpr char kNoEnd[] = "no end in the log (killed, still running, or its last line lost)";

int Field(const std::string& text, std::size_t at, std::size_t digits) {
  int value = 0;
  for (std::size_t i = at; i < at + digits; ++i) value = value * 10 + (text[i] - '0');
  return value;
}

// A moment as seconds from a fixed origin, sorting like time. -1 for text
// that is no "hh:mm:ss dd-mm-yyyy", or names a day no calendar has.
long long Moment(const std::string& stamp) {
  constexpr char kShape[] = "00:00:00 00-00-0000";  // 0: a digit
  if (stamp.size() != sizeof kShape - 1) return -1;
  for (std::size_t i = 0; i < stamp.size(); ++i) {
    bool digit = stamp[i] >= '0' && stamp[i] <= '9';
    if (kShape[i] == '0' ? !digit : stamp[i] != kShape[i]) return -1;
  }
  const int h = Field(stamp, 0, 2), m = Field(stamp, 3, 2), s = Field(stamp, 6, 2);
  const int day = Field(stamp, 9, 2), month = Field(stamp, 12, 2), year = Field(stamp, 15, 4);
  static const int kMonthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
  if (h > 23 || m > 59 || s > 60 || year < 1 || month < 1 || month > 12 || day < 1 ||
      day > kMonthDays[month - 1] + (month == 2 && leap)) {
    return -1;
  }
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

struct Tally {
  long runs = 0, completed = 0, deleted = 0, moved = 0;
  std::map<std::string, long> causes;        // of the window's failed runs
  std::map<long long, long> runs_by_minute;  // of the window's runs
  std::map<long long, std::string> minute_names;
  std::string first_stamp, last_stamp;
};

// The runs that have started and not ended yet. The log names no run on its
// end lines, and the lines of instances running at once interleave, so an
// end goes to an open run by a rule that never hides a failure of the window:
// a failure to a run of the window when one is open, a completion to a run
// from outside it when one is open. A failed run of the window is thus never
// counted as completed; in doubt a completed one is counted as failed.
class OpenRuns {
 public:
  void Start(bool inside, const std::string& path) {
    paths_.emplace(next_, path);
    by_path_.emplace(path, next_);
    (inside ? inside_ : outside_).insert(next_++);
  }
  void Complete(Tally& t) {
    if (Close(Pick(outside_, inside_))) ++t.completed;
  }
  // A failure whose line names a message path goes to a run of that path.
  void Fail(Tally& t, const std::string& cause, const std::string& path) {
    long id = -1;
    for (auto [at, end] = by_path_.equal_range(path); at != end && !inside_.count(id); ++at) {
      id = at->second;
    }
    if (Close(id >= 0 ? id : Pick(inside_, outside_))) ++t.causes[ErrorGroup(cause)];
  }
  long Unfinished() const { return static_cast<long>(inside_.size()); }

 private:
  static long Pick(const std::set<long>& first, const std::set<long>& then) {
    if (!first.empty()) return *first.begin();
    return then.empty() ? -1 : *then.begin();
  }
  // Whether id was a run of the window; -1 closes nothing.
  bool Close(long id) {
    auto run = paths_.find(id);
    if (run == paths_.end()) return false;
    for (auto [at, end] = by_path_.equal_range(run->second); at != end; ++at) {
      if (at->second == id) {
        by_path_.erase(at);
        break;
      }
    }
    paths_.erase(run);
    outside_.erase(id);
    return inside_.erase(id) > 0;
  }
  std::map<long, std::string> paths_;  // by start order
  std::multimap<std::string, long> by_path_;
  std::set<long> inside_, outside_;
  long next_ = 0;
};

// Lines that only follow the cause of a failure: the rest of a diagnostic
// record, a further record (a state right after a record's message), the
// OS's reason, and what the error policy then did.
bool FollowsCause(const std::string& text, bool after_record) {
  return StartsWith(text, kSqlNativeLabel) || StartsWith(text, kSqlMessageLabel) ||
         IsCauseLine(text) || StartsWith(text, LineOf(Failure::kDelete).text) ||
         StartsWith(text, LineOf(Failure::kQuarantine).text) ||
         (after_record && StartsWith(text, LineOf(Failure::kSql).text));
}

// The whole log is read, since a run of the window may end after it; the
// window chooses the runs by their start, and the other counts by stamp.
class Reader {
 public:
  Reader(long long from, long long to) : from_(from), to_(to) {}
  void Entry(long long moment, const std::string& line) {
    const std::string text = line.substr(kStampLength);
    const bool inside = from_ <= moment && moment <= to_;
    if (inside) Count(moment, line, text);
    if (StartsWith(text, kProcessLine)) {
      open_.Start(inside, text.substr(std::min(text.size(), sizeof kProcessLine)));
    } else if (text == kCompleteLine) {
      open_.Complete(t_);
    } else if (after_record_ && StartsWith(text, LineOf(Failure::kSql).text)) {
      further_.push_back(ErrorGroup(text));
    } else if (StartsWith(text, "ERROR: ") && !FollowsCause(text, after_record_)) {
      const char* load = LineOf(Failure::kLoad).text;
      const std::size_t path_at = std::min(text.size(), std::strlen(load) + 1);
      open_.Fail(t_, text, StartsWith(text, load) ? text.substr(path_at) : "");
    }
    after_record_ = StartsWith(text, kSqlMessageLabel);
  }
  // A further record is, as written, part of the failure before it; but
  // instances failing at once write their single records side by side, and
  // then as many runs are left without an end: those take the records.
  Tally& Finish() {
    long unfinished = open_.Unfinished();
    for (std::size_t i = 0; unfinished > 0 && i < further_.size(); ++i, --unfinished) {
      ++t_.causes[further_[i]];
    }
    if (unfinished > 0) t_.causes[kNoEnd] += unfinished;
    return t_;
  }

 private:
  void Count(long long moment, const std::string& line, const std::string& text) {
    const std::string stamp = line.substr(0, kStampLength - 1);
    if (t_.first_stamp.empty()) t_.first_stamp = stamp;
    t_.last_stamp = stamp;
    if (StartsWith(text, kProcessLine)) {
      ++t_.runs;
      ++t_.runs_by_minute[moment / 60];
      t_.minute_names.emplace(moment / 60, line.substr(0, 5) + line.substr(8, 11));
    }
    if (text == kDeletedLine) ++t_.deleted;
    if (StartsWith(text, kMovedLine)) ++t_.moved;
  }
  long long from_, to_;
  Tally t_;
  OpenRuns open_;
  bool after_record_ = false;
  std::vector<std::string> further_;  // state lines of further records
};

// The lowest and the median count of runs started in a minute, over the
// minutes in which runs started: the idle time between mailings is no
// minute of theirs, and the cost grows with the log, not with its span.
std::string Throughput(const Tally& t) {
  if (t.runs_by_minute.empty()) return "no run started";
  std::vector<long> counts;
  auto lowest = t.runs_by_minute.begin();
  for (auto it = t.runs_by_minute.begin(); it != t.runs_by_minute.end(); ++it) {
    counts.push_back(it->second);
    if (it->second < lowest->second) lowest = it;
  }
  std::sort(counts.begin(), counts.end());
  const std::size_t n = counts.size();
  const double median = (counts[(n - 1) / 2] + counts[n / 2]) / 2.0;
  char text[200];
  std::snprintf(text, sizeof text, "lowest %ld (%s), median %g, over %zu minutes with runs",
                lowest->second, t.minute_names.at(lowest->first).c_str(), median, n);
  return text;
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
  Reader reader(from, to);
  for (std::size_t at = 0, end; at < log.size(); at = end + 2) {
    end = std::min(log.find("\r\n", at), log.size());
    const std::string line = log.substr(at, end - at);
    long long moment = line.size() >= kStampLength ? Moment(line.substr(0, kStampLength - 1)) : -1;
    if (moment >= 0) reader.Entry(moment, line);  // continuation lines have no stamp
  }
  const Tally& t = reader.Finish();
  if (t.first_stamp.empty()) {
    *out += "no entries\n";
    return 0;
  }
  long failed = 0;
  for (const auto& cause : t.causes) failed += cause.second;
  Append(out, "entries from %s to %s\n", t.first_stamp.c_str(), t.last_stamp.c_str());
  Append(out, "  runs        %8ld\n  completed   %8ld\n  failed      %8ld\n", t.runs, t.completed,
         failed);
  for (const auto& [cause, count] : t.causes) Append(out, "    %8ld  %s\n", count, cause.c_str());
  Append(out, "  deleted     %8ld\n  moved       %8ld\n", t.deleted, t.moved);
  Append(out, "  runs a minute: %s\n", Throughput(t).c_str());
  return failed > 0 ? 1 : 0;
}

}  // namespace kelvorin
