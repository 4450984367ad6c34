// How a message template is read: block markers and column placeholders.
// The merge writer follows these rules, and kelvorin-check reads templates
// by them to report what a merge would do.
#ifndef KELVORIN_MERGE_TEMPLATE_SCAN_H_
#define KELVORIN_MERGE_TEMPLATE_SCAN_H_

#include <cstddef>

namespace kelvorin {

// The first needle (n > 0 bytes) in [from, end), or end.
const char* Find(const char* from, const char* end, const char* needle, std::size_t n);

// Steps over one CR and then one LF, as far as end.
const char* SkipLineBreak(const char* at, const char* end);

struct Placeholder {
  int column;        // 1-based; 0 when the placeholder is not valid
  const char* next;  // where scanning goes on
};

// Reads the placeholder at "%%" in [at, end). A valid one ("%%", 1 to 50
// digits naming a column from 1 to columns, "%%") is passed whole; of an
// invalid one only the "%%" and its digits are, so its closing "%%" can open
// the next one. Values beyond 32 bits name no column.
Placeholder ScanPlaceholder(const char* at, const char* end, int columns);

// Whether ScanPlaceholder at "%%" in [at, end) gives what it would give with
// more bytes after end: its digits end before end, and so do the two bytes
// that may close it. At most kUnsettled bytes from at can be unsettled.
bool PlaceholderSettled(const char* at, const char* end);
constexpr std::size_t kUnsettled = 53;  // "%%", 50 digits, "%"

}  // namespace kelvorin

#endif  // KELVORIN_MERGE_TEMPLATE_SCAN_H_
