// A failed message moved aside for the operator instead of being deleted.
#ifndef KELVORIN_DRIVER_QUARANTINE_H_
#define KELVORIN_DRIVER_QUARANTINE_H_

#include <cstddef>

#include "platform.h"

namespace kelvorin {

// Moves the message at message_path into folder (a bare folder name is taken
// from directory, the program's folder) under the message's own name, or
// with ".N" added while that is taken, and creates "<new path>.reason" beside
// it. Nothing there is ever replaced, so many runs may share the folder. True
// with the new path in moved_to (cap bytes) and *reason open for the caller
// to write and close; false, with the message where it was and no reason file
// left, when the move cannot be made (no such folder, no right to write it,
// another volume).
[[nodiscard]] bool QuarantineMessage(const char* message_path, const char* folder,
                                     const char* directory, char* moved_to, std::size_t cap,
                                     platform::File* reason);

}  // namespace kelvorin

#endif  // KELVORIN_DRIVER_QUARANTINE_H_
