// A mailing read back from the plug-in's log.
#ifndef KELVORIN_CHECK_LOG_SUMMARY_H_
#define KELVORIN_CHECK_LOG_SUMMARY_H_

#include <string>

namespace kelvorin {

// Appends to out a summary of the log text: runs, completed, failed by error
// line, messages deleted and moved, first and last time stamp and the slowest
// minute, of the entries from since to until (time stamps as the log writes
// them; empty: no bound). Returns 0 when no run failed, 1 when one did, 2
// when since or until is not a time stamp.
int SummariseLog(const std::string& log, const std::string& since, const std::string& until,
                 std::string* out);

}  // namespace kelvorin

#endif  // KELVORIN_CHECK_LOG_SUMMARY_H_
