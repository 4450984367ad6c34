// Recipient extraction and substitution on any message and query: nothing is
// written past the recipient buffer, a refused address leaves it empty, and
// the address lands in the query with every quote doubled, so it can never
// end the SQL literal it stands in.
#include <cstring>
#include <string>

#include "fuzz_support.h"
#include "message_text.h"

namespace {

void CheckRecipient(int found, const char* recipient, const char* guard) {
  if (std::memcmp(recipient + kelvorin::kRecipientCapacity, guard, 8) != 0) {
    fuzz_support::Fail("written past the recipient buffer");
  }
  std::size_t len = std::strlen(recipient);
  if ((found != 0) != (len > 0)) fuzz_support::Fail("result and address disagree");
  if (len >= kelvorin::kRecipientCapacity) fuzz_support::Fail("address too long");
  if (std::strpbrk(recipient, "\r\n\\")) fuzz_support::Fail("line break or backslash kept");
}

std::string Doubled(const char* recipient) {
  std::string out;
  for (const char* c = recipient; *c; ++c) out += *c == '\'' ? "''" : std::string(1, *c);
  return out;
}

void CheckQuery(const std::string& query, const char* recipient) {
  char* result = nullptr;
  if (!kelvorin::SubstituteRecipient(query.c_str(), recipient, &result)) return;  // no memory
  const char* token = std::strstr(query.c_str(), "%recipient%");
  if ((result == nullptr) != (token == nullptr)) fuzz_support::Fail("token found wrongly");
  if (result == nullptr) return;
  std::string head(query.c_str(), token);
  std::string expected = head + Doubled(recipient) + (token + 11);
  if (expected != result) fuzz_support::Fail("substitution differs");
  kelvorin::FreeText(result);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz_support::Input in(data, size);
  const std::string message = in.Piece('\0');
  const std::string query = in.Rest();
  const char guard[8] = {'G', 'U', 'A', 'R', 'D', 'G', 'U', 'A'};
  char recipient[kelvorin::kRecipientCapacity + 8];
  std::memcpy(recipient + kelvorin::kRecipientCapacity, guard, 8);
  int found = kelvorin::ExtractRecipient(message.c_str(), recipient);
  CheckRecipient(found, recipient, guard);
  if (found) CheckQuery(query, recipient);
  return 0;
}
