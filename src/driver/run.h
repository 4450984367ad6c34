// The steps of one message's run, each logging what it does as the plug-in
// logs it and keeping what failed in the run. The plug-in takes them in
// order, stops at the first that fails and logs its failure; kelvorin-check
// takes them to see what the plug-in would do.
#ifndef KELVORIN_DRIVER_RUN_H_
#define KELVORIN_DRIVER_RUN_H_

#include <cstddef>

#include "failure.h"
#include "merge_writer.h"
#include "message_text.h"
#include "odbc_connection.h"
#include "result_table.h"
#include "settings.h"

namespace kelvorin {

// What one run holds. The texts and the ODBC handles are released when it
// goes.
struct Run {
  Run() = default;
  ~Run();
  Run(const Run&) = delete;
  Run& operator=(const Run&) = delete;

  const char* message_path = nullptr;
  Settings settings;
  char* message_text = nullptr;
  std::size_t message_length = 0;  // all its bytes: a NUL in it is kept
  char* query_text = nullptr;
  char recipient[kRecipientCapacity] = {};
  OdbcHandles* handles = nullptr;   // the connection, once the query ran
  bool message_not_a_file = false;  // the message path names a folder, a FIFO, a device
  StepFailure failure;              // the first step that failed, and why
};

// Each step is true when it worked, and false with why in run.failure.

// Reads the settings from the INI file at ini_path (directory: the plug-in's
// folder, for bare file names).
[[nodiscard]] bool ReadRunSettings(Run& run, const char* ini_path, const char* directory);

// Loads the message file, then the query file that the settings name; for a
// message that is no regular file, message_not_a_file is set.
[[nodiscard]] bool LoadTexts(Run& run);

// Takes the recipient's address from the message.
[[nodiscard]] bool TakeRecipient(Run& run);

// Puts the recipient into the query text and logs the query about to run.
[[nodiscard]] bool PrepareQuery(Run& run);

// Runs the query, on the connection the run already holds if it holds one,
// fetches its rows into table and logs "SQL OK (n)".
[[nodiscard]] bool QueryRows(Run& run, ResultTable* table);

// How the settings and the recipient say the message is to be merged; valid
// while run is.
MergeOptions MergeOptionsOf(const Run& run);

}  // namespace kelvorin

#endif  // KELVORIN_DRIVER_RUN_H_
