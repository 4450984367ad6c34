// What kelvorin-check finds in a mailing's parts: the settings file, a
// message template, and the merged text, each problem with where it is.
#ifndef KELVORIN_CHECK_LINT_H_
#define KELVORIN_CHECK_LINT_H_

#include <cstddef>
#include <string>
#include <vector>

namespace kelvorin {

struct Finding {
  std::string where;  // "file" or "file:line"
  std::string text;
};
using Findings = std::vector<Finding>;

// Keys in [Database] and [Options] of the INI file at ini_path that the
// plug-in does not read (with the known key nearest in spelling, when one is
// near), and values longer than the plug-in keeps.
void LintIni(const char* ini_path, Findings* out);

// A Quarantine in the INI file at ini_path that is the folder of messages (a
// message's path, or a folder's with its trailing separator); directory: the
// plug-in's folder, for a bare name.
void LintQuarantine(const char* ini_path, const char* directory, const std::string& messages,
                    Findings* out);

// What merging the template message (named name) does with a result of
// columns columns and rows rows (either -1 when unknown): a block marker
// without a partner, the recipient line inside a row block, placeholders
// that name no column, placeholders outside every row block while several
// rows came, row blocks while no row came.
void LintTemplate(const std::string& name, const char* message, std::size_t length,
                  const std::string& marker, int columns, int rows, Findings* out);

// A block marker, or a placeholder that names one of columns columns, left
// in the merged text of the message named name.
void LintMerged(const std::string& name, const std::string& merged, const std::string& marker,
                int columns, Findings* out);

}  // namespace kelvorin

#endif  // KELVORIN_CHECK_LINT_H_
