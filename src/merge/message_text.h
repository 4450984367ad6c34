// The three texts a run starts from: the message, the query, and the
// recipient's address that joins them.
#ifndef KELVORIN_MERGE_MESSAGE_TEXT_H_
#define KELVORIN_MERGE_MESSAGE_TEXT_H_

#include <cstddef>

#include "failure.h"

namespace kelvorin {

// The recipient buffer: at most 999 characters and the NUL.
constexpr std::size_t kRecipientCapacity = 1000;
// What starts a recipient line, and what the query names the address by.
inline constexpr char kRecipientPrefix[] = "\r\n<<< ";
inline constexpr char kRecipientToken[] = "%recipient%";

// Reads the whole file at path into a new buffer with a NUL behind its bytes.
// True with the buffer in *out (the caller frees it with FreeText) and the
// number of bytes read in *length when length is not null; false with *out
// untouched when the file is missing, busy, empty or unreadable, or memory
// runs out. As text, the buffer ends at its first NUL byte. Only a regular
// file is read, and nothing waits: *cause (when not null) gets the open's
// kNotAFile for anything else, and the failed OS call, when one failed.
[[nodiscard]] bool LoadWholeFile(const char* path, char** out, std::size_t* length = nullptr,
                                 OsCause* cause = nullptr);

// Releases a text from LoadWholeFile or SubstituteRecipient; null is ignored.
void FreeText(char* text);

// The first recipient line of the length bytes at text: "\r\n<<< " before the
// first NUL byte, its address running to CR, LF, NUL or the end. True with
// *out pointing into text; false when there is none.
struct RecipientLine {
  const char* start;    // the line's "<<< "
  const char* address;  // length bytes, not NUL-terminated
  std::size_t length;
};
[[nodiscard]] bool FindRecipientLine(const char* text, std::size_t length, RecipientLine* out);

// Copies the address of the message's first recipient line (FindRecipientLine
// on the NUL-terminated text) into recipient (kRecipientCapacity bytes). True for a
// non-empty address; false, with recipient empty, when there is none, when it
// is longer than 999 characters, or when it holds a backslash (an escape
// inside SQL literals on some servers, and never part of a deliverable
// address).
[[nodiscard]] bool ExtractRecipient(const char* text, char* recipient);

// Puts recipient in place of the first "%recipient%" of query, each single
// quote of it written twice so that it cannot end an SQL literal. True with
// *out a new text (the caller frees it with FreeText), or null when query
// holds no token; false when memory runs out.
[[nodiscard]] bool SubstituteRecipient(const char* query, const char* recipient, char** out);

}  // namespace kelvorin

#endif  // KELVORIN_MERGE_MESSAGE_TEXT_H_
