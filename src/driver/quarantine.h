// A failed message moved aside for the operator instead of being deleted.
#ifndef KELVORIN_DRIVER_QUARANTINE_H_
#define KELVORIN_DRIVER_QUARANTINE_H_

#include <cstddef>

#include "failure.h"
#include "platform.h"

namespace kelvorin {

// Whether the quarantine folder (a bare folder name is taken from directory,
// the program's folder) is the folder that the file at path lies in, by
// identity rather than spelling; path may also be a folder with its trailing
// separator. A message moved there would stay where the host sends from.
[[nodiscard]] bool QuarantineHolds(const char* path, const char* folder, const char* directory);

// Moves the message at message_path into folder (taken as QuarantineHolds
// takes it) under the message's own name, or with ".N" added while that is
// taken, and creates "<new path>.reason" beside it; a name too long for both
// within the longest file name is cut at its end. Nothing there is ever
// replaced, so many runs may share the folder. True with the new path in
// moved_to (cap bytes) and *reason open for the caller to write and close;
// false, with the message where it was and no reason file left, when the move
// cannot be made (no such folder, no right to write it, another volume, the
// message's own folder, a message another program holds open); *cause then
// holds the OS call that failed, if one did.
[[nodiscard]] bool QuarantineMessage(const char* message_path, const char* folder,
                                     const char* directory, char* moved_to, std::size_t cap,
                                     platform::File* reason, OsCause* cause);

}  // namespace kelvorin

#endif  // KELVORIN_DRIVER_QUARANTINE_H_
