#include "template_scan.h"

#include <climits>
#include <cstring>

namespace kelvorin {
namespace {

constexpr int kMaxPlaceholderDigits = 50;

}  // namespace

const char* Find(const char* from, const char* end, const char* needle, std::size_t n) {
  while (static_cast<std::size_t>(end - from) >= n) {
    const char* hit = static_cast<const char*>(
        std::memchr(from, needle[0], static_cast<std::size_t>(end - from) - n + 1));
    if (hit == nullptr) break;
    if (std::memcmp(hit, needle, n) == 0) return hit;
    from = hit + 1;
  }
  return end;
}

const char* SkipLineBreak(const char* at, const char* end) {
  if (at < end && *at == '\r') ++at;
  if (at < end && *at == '\n') ++at;
  return at;
}

Placeholder ScanPlaceholder(const char* at, const char* end, int columns) {
  const char* p = at + 2;
  long long value = 0;
  int digits = 0;
  for (; p < end && digits < kMaxPlaceholderDigits && *p >= '0' && *p <= '9'; ++p, ++digits) {
    if (value <= INT_MAX) value = value * 10 + (*p - '0');
  }
  bool closed = end - p >= 2 && p[0] == '%' && p[1] == '%';
  if (closed && value >= 1 && value <= columns) return {static_cast<int>(value), p + 2};
  return {0, p};
}

bool PlaceholderSettled(const char* at, const char* end) {
  const char* p = at + 2;
  for (int digits = 0; p < end && digits < kMaxPlaceholderDigits && *p >= '0' && *p <= '9';) {
    ++p;
    ++digits;
  }
  return p < end && (*p != '%' || end - p >= 2);
}

}  // namespace kelvorin
