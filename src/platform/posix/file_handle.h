// The Linux backend's access to what a platform::File holds: a file
// descriptor. For the backend's own files only.
#ifndef KELVORIN_PLATFORM_POSIX_FILE_HANDLE_H_
#define KELVORIN_PLATFORM_POSIX_FILE_HANDLE_H_

#include "platform.h"

namespace platform {

struct FileHandle {
  // The descriptor file holds, -1 for none; file keeps owning it.
  static int Of(const File& file) { return static_cast<int>(file.handle_); }
  // Gives fd to *file, which closes what it held first and owns fd after.
  static void Take(File* file, int fd) {
    file->Close();
    file->handle_ = fd;
  }
};

}  // namespace platform

#endif  // KELVORIN_PLATFORM_POSIX_FILE_HANDLE_H_
