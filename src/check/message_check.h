// One message through the plug-in's steps, without writing anything.
#ifndef KELVORIN_CHECK_MESSAGE_CHECK_H_
#define KELVORIN_CHECK_MESSAGE_CHECK_H_

#include <string>

#include "failure.h"
#include "lint.h"
#include "odbc_connection.h"

namespace kelvorin {

// Where the plug-in's settings are, and the address to run the query for
// instead of the message's own (null: its own).
struct CheckInputs {
  const char* ini;
  const char* directory;  // the plug-in's folder, for bare file names
  const char* recipient;
};

struct MessageReport {
  bool merged = false;
  std::string output;   // the merged message, byte for byte, when merged
  std::string log;      // the entries the plug-in would have logged
  StepFailure failure;  // why it would fail; Failure::kNone when merged
  Findings findings;    // the failure, if any, and every problem found
};

// Takes the plug-in's steps for the message at path: reads the settings, the
// message and the query, runs the query on *connection (opened when null,
// left open for the next message) and merges in memory. Nothing is written
// to the message, and nothing to the plug-in's log.
MessageReport CheckMessage(const char* path, const CheckInputs& in, OdbcHandles** connection);

}  // namespace kelvorin

#endif  // KELVORIN_CHECK_MESSAGE_CHECK_H_
