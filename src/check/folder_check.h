// The pre-flight of a whole mailing: every message of a folder checked.
#ifndef KELVORIN_CHECK_FOLDER_CHECK_H_
#define KELVORIN_CHECK_FOLDER_CHECK_H_

#include <string>

#include "lint.h"
#include "message_check.h"

namespace kelvorin {

// Takes every file in folder (but those whose names begin with a dot and the
// plug-in's temporary files) through the plug-in's steps in memory, on one
// connection, and prints how many would merge, fail (by error line) or get
// no rows, each failing file, the problems found, with ini_findings first,
// and the temporary files left in it with their sizes and ages. Progress goes
// to standard error. Returns 0 when every message would merge without a
// problem and no temporary file is left, 1 otherwise, 2 when the folder
// cannot be read.
int CheckFolder(const std::string& folder, const CheckInputs& in, const Findings& ini_findings);

}  // namespace kelvorin

#endif  // KELVORIN_CHECK_FOLDER_CHECK_H_
