// A mailing read back from the plug-in's log.
#ifndef KELVORIN_CHECK_LOG_SUMMARY_H_
#define KELVORIN_CHECK_LOG_SUMMARY_H_

#include <string>

namespace kelvorin {

// Appends to out a summary of the log text between since and until (time
// stamps as the log writes them; empty: no bound): the runs that started
// there, how many completed and failed (by error line, wherever in the log
// their end is), the delete and move lines, the first and last time stamp,
// and the lowest and median runs a minute. Returns 0 when none of those runs
// failed, 1 when one did, 2 when since or until is no possible time stamp.
int SummariseLog(const std::string& log, const std::string& since, const std::string& until,
                 std::string* out);

}  // namespace kelvorin

#endif  // KELVORIN_CHECK_LOG_SUMMARY_H_
