// Path rules that differ between platforms, built on platform_config.h so that
// the rest of the program asks here instead of testing the platform.
#ifndef KELVORIN_PLATFORM_PATHS_H_
#define KELVORIN_PLATFORM_PATHS_H_

#include <cstddef>

namespace platform {

// The path of a file beside the executable that bears its name with ext
// ("INI", "LOG"): the last three characters of module_path replaced by ext,
// or, where bare program names are usual, ".ext" appended to a file name
// without a dot. Returns false, with out empty, when module_path is null or
// has four characters or fewer, or when the result does not fit cap bytes.
bool SiblingPath(const char* module_path, const char* ext, char* out, std::size_t cap);

// The directory of path, up to and including its last separator. Returns
// false, with out empty, when path holds no separator or it does not fit.
bool DirectoryOf(const char* path, char* out, std::size_t cap);

// True when text holds the platform's path separator anywhere.
bool HasSeparator(const char* text);

// The file name at the end of path: what follows its last separator (on
// Windows also "/"), or all of it.
const char* BaseName(const char* path);

}  // namespace platform

#endif  // KELVORIN_PLATFORM_PATHS_H_
