// The steps of one message's run, each logging what it does as the plug-in
// logs it. The plug-in takes them in order and stops at the first that
// fails; kelvorin-check takes them to see what the plug-in would do.
#ifndef KELVORIN_DRIVER_RUN_H_
#define KELVORIN_DRIVER_RUN_H_

#include <cstddef>

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
};

// Loads the message file, then the query file that the settings name.
// False after logging the one that could not be loaded, and why when it is
// no regular file (then, for the message, message_not_a_file is set).
[[nodiscard]] bool LoadTexts(Run& run);

// Takes the recipient's address from the message. False after logging.
[[nodiscard]] bool TakeRecipient(Run& run);

// Puts the recipient into the query text and logs the query about to run.
// False after logging that memory ran out.
[[nodiscard]] bool PrepareQuery(Run& run);

// Runs the query, on the connection the run already holds if it holds one,
// fetches its rows into table and logs "SQL OK (n)". False after logging why.
[[nodiscard]] bool QueryRows(Run& run, ResultTable* table);

// How the settings and the recipient say the message is to be merged; valid
// while run is.
MergeOptions MergeOptionsOf(const Run& run);

}  // namespace kelvorin

#endif  // KELVORIN_DRIVER_RUN_H_
