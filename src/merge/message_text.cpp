#include "message_text.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform.h"
#include "template_scan.h"

namespace kelvorin {
namespace {

constexpr std::size_t kTokenLength = sizeof kRecipientToken - 1;
constexpr std::size_t kPrefixLength = sizeof kRecipientPrefix - 1;

// Reads size bytes of an open file into a new buffer; null on any failure,
// the OS's reason in *why when the OS refused.
char* ReadOpenFile(platform::File file, std::size_t* length, platform::Status* why) {
  std::uint64_t size = 0;
  if (!platform::FileSize(file, &size, why) || size == 0 || size >= SIZE_MAX) return nullptr;
  char* text = static_cast<char*>(platform::Allocate(static_cast<std::size_t>(size) + 1));
  if (text == nullptr) return nullptr;
  std::size_t got = 0;
  if (!platform::Read(file, text, static_cast<std::size_t>(size), &got, why) || got == 0) {
    platform::Release(text);
    return nullptr;
  }
  text[got] = '\0';
  *length = got;
  return text;
}

}  // namespace

bool LoadWholeFile(const char* path, char** out, std::size_t* length, OsCause* cause) {
  OsCause failed{OsCall::kOpen, {}, path};
  platform::File file = platform::kNoFile;
  std::size_t read = 0;
  char* text = nullptr;
  if (platform::OpenForRead(path, &file, &failed.status)) {
    failed.call = OsCall::kRead;
    text = ReadOpenFile(file, &read, &failed.status);
    platform::Close(file);
  }
  if (text == nullptr) {
    if (cause != nullptr) *cause = failed;
    return false;
  }
  *out = text;
  if (length != nullptr) *length = read;
  return true;
}

void FreeText(char* text) {
  platform::Release(text);
}

bool FindRecipientLine(const char* text, std::size_t length, RecipientLine* out) {
  const char* end = text + length;
  const char* line = Find(text, end, kRecipientPrefix, kPrefixLength);
  const std::size_t before = static_cast<std::size_t>(line - text);
  if (line == end || std::memchr(text, '\0', before) != nullptr) return false;
  const char* address = line + kPrefixLength;
  const char* stop = address;
  while (stop < end && *stop != '\r' && *stop != '\n' && *stop != '\0') ++stop;
  *out = {line + 2 /* past CR LF */, address, static_cast<std::size_t>(stop - address)};
  return true;
}

bool ExtractRecipient(const char* text, char* recipient) {
  recipient[0] = '\0';
  RecipientLine line;
  if (!FindRecipientLine(text, std::strlen(text), &line)) return false;
  const std::size_t len = line.length;
  if (len == 0 || len >= kRecipientCapacity) return false;
  if (std::memchr(line.address, '\\', len) != nullptr) return false;
  std::memcpy(recipient, line.address, len);
  recipient[len] = '\0';
  return true;
}

bool SubstituteRecipient(const char* query, const char* recipient, char** out) {
  *out = nullptr;
  const char* token = std::strstr(query, kRecipientToken);
  if (token == nullptr) return true;
  std::size_t quotes = 0;
  for (const char* c = recipient; *c; ++c) quotes += (*c == '\'');
  std::size_t head = static_cast<std::size_t>(token - query);
  const char* tail = token + kTokenLength;
  std::size_t size = head + std::strlen(recipient) + quotes + std::strlen(tail) + 1;
  char* result = static_cast<char*>(platform::Allocate(size));
  if (result == nullptr) return false;
  char* at = result;
  std::memcpy(at, query, head);
  at += head;
  for (const char* c = recipient; *c; ++c) {
    if (*c == '\'') *at++ = '\'';
    *at++ = *c;
  }
  std::memcpy(at, tail, std::strlen(tail) + 1);
  *out = result;
  return true;
}

}  // namespace kelvorin
