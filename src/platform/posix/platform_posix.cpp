// Linux backend of platform.h.
//
// Win32 share modes are carried over with flock(2) advisory locks: a reader
// takes a shared lock and a writer an exclusive one, both without waiting, so
// an open fails with kBusy exactly where CreateFileA would report a sharing
// violation. Every opener in Kelvorin takes these locks, so they agree.
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "fault.h"
#include "platform.h"

namespace platform {
namespace {

// The one place where errno becomes a Status.
Status FromErrno(int error) {
  switch (error) {
    case EWOULDBLOCK:
      return Status::kBusy;
    case ENOENT:
    case ENOTDIR:
      return Status::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return Status::kDenied;
    case ENOSPC:
    case EDQUOT:
      return Status::kNoSpace;
    default:
      return Status::kFailed;
  }
}

File Failed(Status* status) {
  if (status) *status = FromErrno(errno);
  return kNoFile;
}

// Opens path with flags and takes the flock that stands for the share mode.
File OpenLocked(const char* path, int flags, int lock, Status* status) {
  if (path == nullptr || path[0] == '\0') {
    errno = ENOENT;
    return Failed(status);
  }
  int fd = ::open(path, flags | O_CLOEXEC, 0666);
  if (fd < 0) return Failed(status);
  if (::flock(fd, lock | LOCK_NB) != 0) {
    int error = errno;
    ::close(fd);
    errno = error;
    return Failed(status);
  }
  if (status) *status = Status::kOk;
  return fd;
}

pthread_mutex_t* Mutex(Lock* lock) { return reinterpret_cast<pthread_mutex_t*>(lock->storage); }

static_assert(sizeof(pthread_mutex_t) <= kLockStorageSize, "lock storage too small");

}  // namespace

std::size_t ModulePath(char* out, std::size_t cap) {
  if (cap == 0) return 0;
  ssize_t n = ::readlink("/proc/self/exe", out, cap - 1);
  if (n <= 0 || static_cast<std::size_t>(n) >= cap - 1) {
    out[0] = '\0';
    return 0;
  }
  out[n] = '\0';
  return static_cast<std::size_t>(n);
}

File OpenForRead(const char* path, Status* status) {
  return OpenLocked(path, O_RDONLY, LOCK_SH, status);
}

File OpenForAppend(const char* path, Status* status) {
  return OpenLocked(path, O_WRONLY | O_CREAT | O_APPEND, LOCK_EX, status);
}

bool FileSize(File file, std::uint64_t* size) {
  struct stat info;
  if (::fstat(static_cast<int>(file), &info) != 0) return false;
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

long long Read(File file, void* buffer, std::size_t n) {
  char* at = static_cast<char*>(buffer);
  std::size_t done = 0;
  while (done < n) {
    ssize_t got = ::read(static_cast<int>(file), at + done, n - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return -1;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return static_cast<long long>(done);
}

bool WriteAll(File file, const void* data, std::size_t n) {
  if (fault::Trip(fault::Op::kWrite)) {
    errno = EIO;
    return false;
  }
  const char* at = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t put = ::write(static_cast<int>(file), at, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    at += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

void Close(File file) {
  if (file != kNoFile) ::close(static_cast<int>(file));
}

bool RemoveFile(const char* path) { return ::unlink(path) == 0; }

LocalTime Now() {
  time_t now = ::time(nullptr);
  struct tm parts;
  ::localtime_r(&now, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

void SleepMilliseconds(unsigned ms) {
  struct timespec wait = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
  }
}

void LockInit(Lock* lock) { ::pthread_mutex_init(Mutex(lock), nullptr); }
void LockEnter(Lock* lock) { ::pthread_mutex_lock(Mutex(lock)); }
void LockLeave(Lock* lock) { ::pthread_mutex_unlock(Mutex(lock)); }
void LockDelete(Lock* lock) { ::pthread_mutex_destroy(Mutex(lock)); }

}  // namespace platform
