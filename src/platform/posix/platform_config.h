// Linux values of the platform constants.
#ifndef KELVORIN_PLATFORM_POSIX_PLATFORM_CONFIG_H_
#define KELVORIN_PLATFORM_POSIX_PLATFORM_CONFIG_H_

#include <climits>
#include <cstddef>

namespace platform {

constexpr char kPathSeparator = '/';
// Longest path, NUL included.
constexpr std::size_t kMaxPath = PATH_MAX;
// Longest file name in a folder, in bytes; quarantined names keep within it.
constexpr std::size_t kMaxName = NAME_MAX;
// Linux programs usually carry no extension: "kelvorin" reads "kelvorin.INI"
// rather than losing the last three letters of its name.
constexpr bool kSuffixBareProgramName = true;

}  // namespace platform

#endif  // KELVORIN_PLATFORM_POSIX_PLATFORM_CONFIG_H_
