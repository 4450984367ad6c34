// Windows values of the platform constants.
#ifndef KELVORIN_PLATFORM_WIN32_PLATFORM_CONFIG_H_
#define KELVORIN_PLATFORM_WIN32_PLATFORM_CONFIG_H_

#include <cstddef>

namespace platform {

constexpr char kPathSeparator = '\\';
// MAX_PATH; the backend checks that it agrees with <windows.h>.
constexpr std::size_t kMaxPath = 260;
// Longest file name in a folder, in bytes; quarantined names keep within it.
constexpr std::size_t kMaxName = 255;
// Windows names are always replaced in their last three characters.
constexpr bool kSuffixBareProgramName = false;

}  // namespace platform

#endif  // KELVORIN_PLATFORM_WIN32_PLATFORM_CONFIG_H_
