// The INI reader of the Linux backend: the lookup rules of the Win32
// GetPrivateProfileStringA, so one settings file means the same on both.
#include <fcntl.h>

#include <cstdint>
#include <cstring>

#include "file_handle.h"
#include "platform.h"

namespace platform {
namespace {

// A view of one piece of the file; the file's text outlives every view.
struct Span {
  const char* begin;
  const char* end;
  std::size_t size() const { return static_cast<std::size_t>(end - begin); }
};

// Blanks as the Win32 reader trims them: its CR of a CR LF line end included.
bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

Span Trim(Span s) {
  while (s.begin < s.end && IsBlank(*s.begin)) ++s.begin;
  while (s.end > s.begin && IsBlank(s.end[-1])) --s.end;
  return s;
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Names compare ignoring case and the blanks around either of them.
bool SameName(Span s, const char* name) {
  s = Trim(s);
  Span wanted = Trim(Span{name, name + std::strlen(name)});
  if (s.size() != wanted.size()) return false;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (Lower(s.begin[i]) != Lower(wanted.begin[i])) return false;
  }
  return true;
}

// The bytes of the open file in a new buffer with a NUL behind them, or
// null. A settings file with a NUL byte is damaged or in another encoding;
// readers disagree on what is left of it (Wine's reads up to the NUL), so it
// reads as missing rather than as a guess.
char* ReadText(const File& file, std::size_t* size) {
  std::uint64_t bytes = 0;
  if (!FileSize(file, &bytes) || bytes >= SIZE_MAX) return nullptr;
  char* text = static_cast<char*>(Allocate(static_cast<std::size_t>(bytes) + 1));
  std::size_t got = 0;
  if (text == nullptr || !Read(file, text, static_cast<std::size_t>(bytes), &got) ||
      std::memchr(text, '\0', got) != nullptr) {
    Release(text);
    return nullptr;
  }
  text[got] = '\0';
  *size = got;
  return text;
}

char* LoadText(const char* path, std::size_t* size) {
  if (path == nullptr || path[0] == '\0') return nullptr;
  // Without waiting: a FIFO named as the INI reads as empty instead of
  // blocking the run until something writes to it.
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return nullptr;
  File file;
  FileHandle::Take(&file, fd);
  return ReadText(file, size);
}

// A "[name]" line gives its name; the last "]" closes it, as in Win32.
bool SectionName(Span line, Span* name) {
  if (line.begin == line.end || *line.begin != '[') return false;
  const char* close = line.end;
  while (close > line.begin && close[-1] != ']') --close;
  if (close == line.begin) return false;
  *name = Span{line.begin + 1, close - 1};
  return true;
}

// Splits "key = value". A line without "=" names a key that has no value at
// all; Win32 then gives the default, so value->begin is null.
void SplitEntry(Span line, Span* key, Span* value) {
  const char* eq = static_cast<const char*>(std::memchr(line.begin, '=', line.size()));
  if (eq == nullptr) {
    *key = Trim(line);
    *value = Span{nullptr, nullptr};
    return;
  }
  *key = Trim(Span{line.begin, eq});
  *value = Trim(Span{eq + 1, line.end});
}

// Hands each entry of the first section named section to visit(key, value),
// until visit returns true; value->begin is null for a line without "=".
template <typename Visit>
void ForEachEntry(Span text, const char* section, Visit visit) {
  const char* at = text.begin;
  if (text.size() >= 3 && std::memcmp(at, "\xEF\xBB\xBF", 3) == 0) at += 3;  // byte-order mark
  bool inside = false;
  while (at < text.end) {
    const char* eol =
        static_cast<const char*>(std::memchr(at, '\n', static_cast<std::size_t>(text.end - at)));
    Span line = Trim(Span{at, eol ? eol : text.end});
    at = eol ? eol + 1 : text.end;
    Span name;
    if (SectionName(line, &name)) {
      if (inside) return;  // only the first matching section counts
      inside = SameName(name, section);
    } else if (inside && line.size() > 0 && *line.begin != ';') {
      Span key, value;
      SplitEntry(line, &key, &value);
      if (visit(key, value)) return;
    }
  }
}

// Finds key in the first section named section. Returns false when absent.
bool FindValue(Span text, const char* section, const char* key, Span* value) {
  bool found = false;
  ForEachEntry(text, section, [&](Span entry_key, Span entry_value) {
    if (!SameName(entry_key, key)) return false;
    found = entry_value.begin != nullptr;
    *value = entry_value;
    return true;
  });
  return found;
}

Span Unquote(Span value) {
  if (value.size() >= 2 && (*value.begin == '"' || *value.begin == '\'') &&
      value.end[-1] == *value.begin) {
    return Span{value.begin + 1, value.end - 1};
  }
  return value;
}

std::size_t Store(Span value, char* out, std::size_t cap) {
  if (cap == 0) return 0;
  std::size_t n = value.size() < cap - 1 ? value.size() : cap - 1;
  std::memcpy(out, value.begin, n);
  out[n] = '\0';
  return n;
}

}  // namespace

Profile::Profile(const char* path) : path_(path) {
  text_ = LoadText(path_, &size_);
}

Profile::~Profile() {
  Release(text_);
}

std::size_t Profile::Read(const char* section, const char* key, const char* fallback, char* out,
                          std::size_t cap) const {
  Span value;
  if (text_ != nullptr && FindValue(Span{text_, text_ + size_}, section, key, &value)) {
    return Store(Unquote(value), out, cap);
  }
  // Win32 drops trailing blanks of the default, and only those.
  Span def{fallback ? fallback : "", nullptr};
  def.end = def.begin + std::strlen(def.begin);
  while (def.end > def.begin && def.end[-1] == ' ') --def.end;
  return Store(def, out, cap);
}

std::size_t Profile::Keys(const char* section, char* out, std::size_t cap) const {
  if (cap < 2) return 0;
  std::size_t used = 0;
  if (text_ != nullptr) {
    // Like Win32, a line without "=" names no key here.
    ForEachEntry(Span{text_, text_ + size_}, section, [&](Span key, Span value) {
      if (value.begin == nullptr) return false;
      if (used + key.size() + 2 > cap) return true;  // the list is cut where it does not fit
      std::memcpy(out + used, key.begin, key.size());
      used += key.size();
      out[used++] = '\0';
      return false;
    });
  }
  out[used] = '\0';
  return used;
}

}  // namespace platform
