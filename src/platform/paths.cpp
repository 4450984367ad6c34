#include "paths.h"

#include <cstring>

#include "platform_config.h"

namespace platform {
namespace {

bool Fail(char* out, std::size_t cap) {
  if (cap > 0) out[0] = '\0';
  return false;
}

bool FileNameHasDot(const char* path) {
  const char* name = std::strrchr(path, kPathSeparator);
  return std::strchr(name ? name + 1 : path, '.') != nullptr;
}

}  // namespace

bool SiblingPath(const char* module_path, const char* ext, char* out, std::size_t cap) {
  if (module_path == nullptr) return Fail(out, cap);
  std::size_t len = std::strlen(module_path);
  if (len <= 4) return Fail(out, cap);
  bool append = kSuffixBareProgramName && !FileNameHasDot(module_path);
  std::size_t keep = append ? len : len - 3;
  std::size_t ext_len = std::strlen(ext);
  std::size_t total = keep + (append ? 1 : 0) + ext_len;
  if (total + 1 > cap) return Fail(out, cap);
  std::memcpy(out, module_path, keep);
  if (append) out[keep++] = '.';
  std::memcpy(out + keep, ext, ext_len + 1);
  return true;
}

bool DirectoryOf(const char* path, char* out, std::size_t cap) {
  const char* last = path ? std::strrchr(path, kPathSeparator) : nullptr;
  if (last == nullptr) return Fail(out, cap);
  std::size_t len = static_cast<std::size_t>(last - path) + 1;
  if (len + 1 > cap) return Fail(out, cap);
  std::memcpy(out, path, len);
  out[len] = '\0';
  return true;
}

bool HasSeparator(const char* text) {
  return std::strchr(text, kPathSeparator) != nullptr;
}

const char* BaseName(const char* path) {
  const char* name = path;
  for (const char* at = path; *at != '\0'; ++at) {
    if (*at == kPathSeparator || *at == '/') name = at + 1;
  }
  return name;
}

}  // namespace platform
