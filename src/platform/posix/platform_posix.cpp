// Linux backend of platform.h.
//
// Win32 share modes are carried over with flock(2) advisory locks: a reader
// takes a shared lock and a writer an exclusive one, both without waiting, so
// an open fails with kBusy exactly where CreateFileA would report a sharing
// violation. Every opener in Kelvorin takes these locks, so they agree.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <malloc.h>
#include <sys/auxv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fault.h"
#include "file_handle.h"
#include "platform.h"

namespace platform {

void File::Close() {
  if (handle_ != kNone) ::close(static_cast<int>(handle_));
  handle_ = kNone;
}

namespace {

// The one place where errno becomes a Status.
Status::Kind FromErrno(int error) {
  switch (error) {
    case EWOULDBLOCK:
      return Status::kBusy;
    case EEXIST:
      return Status::kExists;
    case ENOENT:
    case ENOTDIR:
      return Status::kNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
      return Status::kDenied;
    default:
      return Status::kFailed;
  }
}

// Stores the reason of the failed call, errno, in *why. Always false.
bool Failed(Status* why) {
  if (why) *why = {FromErrno(errno), errno};
  return false;
}

// Sets errno as the call that a test's fault stands for would, and fails.
bool Tripped(int error, Status* why) {
  errno = error;
  return Failed(why);
}

bool Opened(int fd, File* out) {
  FileHandle::Take(out, fd);
  return true;
}

// Takes the flock that stands for the share mode; closes fd when it cannot.
bool TakeLock(int fd, int lock, const char* unlink_path, Status* why) {
  if (::flock(fd, lock | LOCK_NB) == 0) return true;
  int error = errno;
  ::close(fd);
  if (unlink_path) ::unlink(unlink_path);
  errno = error;
  return Failed(why);
}

// Fails with kNotAFile. Always false.
bool NotAFile(Status* why) {
  if (why) *why = {Status::kNotAFile, 0};
  return false;
}

// Opens path without waiting, and only when it is a regular file or a link to
// one. Asked of stat first, since opening a device can act by itself (a tape
// rewinds, a watchdog starts) and a FIFO waits for its other end; then of what
// was opened, which may have been swapped in between. O_NONBLOCK has no effect
// on a regular file's reads and writes.
bool OpenRegular(const char* path, int flags, int* out, Status* why) {
  if (path == nullptr || path[0] == '\0') {
    errno = ENOENT;
    return Failed(why);
  }
  struct stat info;
  if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode)) return NotAFile(why);
  int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return Failed(why);
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return NotAFile(why);
  }
  *out = fd;
  return true;
}

// Opens path with flags and takes the flock that stands for the share mode.
bool OpenLocked(const char* path, int flags, int lock, File* out, Status* why) {
  out->Close();
  int fd = -1;
  return OpenRegular(path, flags, &fd, why) && TakeLock(fd, lock, nullptr, why) && Opened(fd, out);
}

// Opens the regular file at path to lock it: for reading, or for writing where
// reading is refused. flock needs one of the two, so a file that refuses both
// is only opened as a path (O_PATH), to be looked at; *lockable says which.
int OpenToLock(const char* path, bool* lockable, Status* why) {
  for (int mode : {O_RDONLY, O_WRONLY, O_PATH}) {
    int fd = -1;
    Status status;
    *lockable = mode != O_PATH;
    if (OpenRegular(path, mode, &fd, &status)) return fd;
    if (why) *why = status;
    if (status.kind != Status::kDenied) break;
  }
  return -1;
}

// Runs change, which deletes or moves the file at path, while holding the
// file's exclusive flock, taken without waiting: kBusy while another opener
// holds the file, as Windows refuses a file open without delete sharing.
template <typename Change>
bool WhileLocked(const char* path, Status* why, Change change) {
  bool lockable = false;
  int fd = OpenToLock(path, &lockable, why);
  if (fd < 0) return false;
  bool done = (!lockable || ::flock(fd, LOCK_EX | LOCK_NB) == 0) && change();
  int error = errno;
  ::close(fd);
  errno = error;
  return done || Failed(why);
}

// The folder part of path ("." for a bare name) into out.
std::string FolderOf(const char* path) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return ".";
  if (slash == path) return "/";
  return std::string(path, static_cast<std::size_t>(slash - path));
}

// "<folder>/.kelvorin-XXXXXX": beside the target so that the final rename
// stays on one file system; a dot file so that a host scanning the folder for
// messages passes it by; a fixed length so that a message whose own name is
// as long as names get still has room for it.
bool TempName(const char* target, char* out, std::size_t cap) {
  const char* slash = std::strrchr(target, '/');
  std::string name = slash ? std::string(target, slash + 1) : std::string();
  name += ".kelvorin-XXXXXX";
  if (name.size() + 1 > cap) return false;
  std::memcpy(out, name.c_str(), name.size() + 1);
  return true;
}

// The merged message replaces the host's file, so it keeps that file's
// permission bits and, where the process may set it, its owner. Each change
// is a journal entry on ext4 (a few microseconds): only what differs changes.
void TakeOverOwnership(int fd, const char* target) {
  struct stat info, own;
  if (::stat(target, &info) != 0) {
    ::fchmod(fd, 0644);
    return;
  }
  const bool known = ::fstat(fd, &own) == 0;
  if (!known || (own.st_mode & 07777) != (info.st_mode & 07777)) ::fchmod(fd, info.st_mode & 07777);
  if ((!known || own.st_uid != info.st_uid || own.st_gid != info.st_gid) &&
      ::fchown(fd, info.st_uid, info.st_gid) != 0) {
    // Only root may give a file away; anyone else keeps their own file.
  }
}

// A rename is durable only once its folder is on the disk. Some file systems
// refuse fsync on a folder; the rename itself has happened either way.
void SyncFolderOf(const char* path) {
  int fd = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

void ReuseFreedMemory() {
  // glibc maps each block of 128 KiB and more on its own, in fresh pages.
  // A free heap top of more than 128 KiB still goes back to the OS: kept as
  // well, the driver's freed rows would only add to the peak where the run
  // cannot reuse them (psqlODBC's, by 0.9 MiB at 5000 rows).
  (void)::mallopt(M_MMAP_THRESHOLD, 64 << 20);
}

void Describe(int code, char* out, std::size_t cap) {
  if (cap == 0) return;
  char scratch[256];
  // The GNU strerror_r, which g++ selects: it returns the text, in scratch
  // or in a table of its own.
  const char* text = ::strerror_r(code, scratch, sizeof scratch);
  std::snprintf(out, cap, "%s", text);
}

bool ModulePath(char* out, std::size_t cap) {
  if (cap == 0) return false;
  // The name the program was started by, its links resolved, is the file
  // that /proc/self/exe names, at a third of the cost of a first visit to
  // procfs. procfs still answers where that name no longer resolves (fexecve
  // of a descriptor closed on exec).
  char resolved[PATH_MAX];
  const auto* started = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  ssize_t n;
  if (started != nullptr && ::realpath(started, resolved) != nullptr) {
    n = static_cast<ssize_t>(std::strlen(resolved));
    std::memcpy(out, resolved, std::min(static_cast<std::size_t>(n), cap - 1));
  } else {
    n = ::readlink("/proc/self/exe", out, cap - 1);
  }
  if (n <= 0 || static_cast<std::size_t>(n) >= cap - 1) {
    out[0] = '\0';
    return false;
  }
  out[n] = '\0';
  return true;
}

bool OpenForRead(const char* path, File* out, Status* why) {
  return OpenLocked(path, O_RDONLY, LOCK_SH, out, why);
}

bool OpenForAppend(const char* path, File* out, Status* why) {
  return OpenLocked(path, O_WRONLY | O_CREAT | O_APPEND, LOCK_EX, out, why);
}

bool AppendPiece(const char* path, const void* data, std::size_t n, File* kept, Status* why) {
  // Kept open, the file costs an flock a piece instead of the lookups of an
  // open and a close, and flock leaves it to others between the pieces. A
  // file removed meanwhile has no links left: its pieces would reach no one.
  struct stat info;
  if (!kept->IsOpen() || ::fstat(FileHandle::Of(*kept), &info) != 0 || info.st_nlink == 0) {
    if (!OpenForAppend(path, kept, why)) return false;
  } else if (::flock(FileHandle::Of(*kept), LOCK_EX | LOCK_NB) != 0) {
    return Failed(why);
  }
  const bool written = WriteAll(*kept, data, n, why);
  ::flock(FileHandle::Of(*kept), LOCK_UN);
  return written;
}

bool OpenForRewrite(const char* path, File* out, Status* why) {
  return OpenLocked(path, O_WRONLY, LOCK_EX, out, why);
}

bool CreateNew(const char* path, File* out, Status* why) {
  return OpenLocked(path, O_WRONLY | O_CREAT | O_EXCL, LOCK_EX, out, why);
}

bool FileSize(const File& file, std::uint64_t* size, Status* why) {
  struct stat info;
  if (::fstat(FileHandle::Of(file), &info) != 0) return Failed(why);
  *size = static_cast<std::uint64_t>(info.st_size);
  return true;
}

bool Read(const File& file, void* buffer, std::size_t n, std::size_t* got, Status* why) {
  char* at = static_cast<char*>(buffer);
  *got = 0;
  while (*got < n) {
    ssize_t part = ::read(FileHandle::Of(file), at + *got, n - *got);
    if (part < 0 && errno == EINTR) continue;
    if (part < 0) return Failed(why);
    if (part == 0) break;
    *got += static_cast<std::size_t>(part);
  }
  return true;
}

bool WriteAll(const File& file, const void* data, std::size_t n, Status* why) {
  if (fault::Trip(fault::Op::kWrite)) return Tripped(EIO, why);
  const char* at = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t put = ::write(FileHandle::Of(file), at, n);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return Failed(why);
    at += put;
    n -= static_cast<std::size_t>(put);
  }
  return true;
}

bool RemoveFile(const char* path, Status* why) {
  return WhileLocked(path, why, [path] { return ::unlink(path) == 0; });
}

bool CheckWritable(const char* path, Status* why) {
  Status status;
  File file;
  if (OpenForRewrite(path, &file, &status)) return true;
  if (status.kind == Status::kNotFound && IsFolder(FolderOf(path).c_str())) return true;
  if (why) *why = status;
  return false;
}

bool ResolvePath(const char* path, char* out, std::size_t cap) {
  // Only a link as the file itself moves the file to replace; links among
  // the folders above it lead to the same folder either way.
  struct stat info;
  char resolved[PATH_MAX];
  const bool link = ::lstat(path, &info) == 0 && S_ISLNK(info.st_mode);
  if (link && ::realpath(path, resolved) == nullptr) return false;
  const char* result = link ? resolved : path;
  if (std::strlen(result) + 1 > cap) return false;
  std::memcpy(out, result, std::strlen(result) + 1);
  return true;
}

bool CreateTempBeside(const char* target, char* temp_path, std::size_t cap, File* out,
                      Status* why) {
  out->Close();
  if (!TempName(target, temp_path, cap)) {
    errno = ENAMETOOLONG;
    return Failed(why);
  }
  int fd = ::mkostemp(temp_path, O_CLOEXEC);
  if (fd < 0) return Failed(why);
  // Nobody else knows the name yet, so the lock is free.
  if (!TakeLock(fd, LOCK_EX, temp_path, why)) return false;
  TakeOverOwnership(fd, target);
  return Opened(fd, out);
}

bool Rewind(const File& file, Status* why) {
  return ::lseek(FileHandle::Of(file), 0, SEEK_SET) == 0 || Failed(why);
}

bool EndHere(const File& file, Status* why) {
  off_t at = ::lseek(FileHandle::Of(file), 0, SEEK_CUR);
  return (at >= 0 && ::ftruncate(FileHandle::Of(file), at) == 0) || Failed(why);
}

bool Flush(const File& file, Status* why) {
  if (fault::Trip(fault::Op::kFlush)) return Tripped(EIO, why);
  return ::fsync(FileHandle::Of(file)) == 0 || Failed(why);
}

bool ReplaceWith(const char* from, const char* to, Status* why) {
  // EACCES: the one refusal with a way round it, for the merge's tests.
  if (fault::Trip(fault::Op::kRename)) return Tripped(EACCES, why);
  if (::rename(from, to) != 0) return Failed(why);
  SyncFolderOf(to);
  return true;
}

bool MoveNoReplace(const char* from, const char* to, Status* why) {
  bool moved = WhileLocked(from, why, [from, to] {
    // File systems without RENAME_NOREPLACE: a new link fails just the same
    // when the name is taken, and the old one then goes.
    int done = ::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE);
    if (done != 0 && errno == EINVAL && ::link(from, to) == 0) done = ::unlink(from);
    return done == 0;
  });
  if (!moved) return false;
  SyncFolderOf(to);
  SyncFolderOf(from);
  return true;
}

bool DescribeFile(const char* path, FileFacts* out, Status* why) {
  struct stat info;
  if (::stat(path, &info) != 0) return Failed(why);
  out->size = static_cast<std::uint64_t>(info.st_size);
  out->age_seconds = static_cast<std::int64_t>(::time(nullptr) - info.st_mtime);
  out->others_may_read = (info.st_mode & (S_IRGRP | S_IROTH)) != 0;
  return true;
}

bool IsTempName(const char* name) {
  constexpr char kPrefix[] = ".kelvorin-";  // and mkostemp's six characters
  return std::strncmp(name, kPrefix, sizeof kPrefix - 1) == 0 &&
         std::strlen(name) == sizeof kPrefix - 1 + 6;
}

bool IsFolder(const char* path) {
  struct stat info;
  return ::stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool SameFile(const char* a, const char* b) {
  struct stat one, other;
  return ::stat(a, &one) == 0 && ::stat(b, &other) == 0 && one.st_dev == other.st_dev &&
         one.st_ino == other.st_ino;
}

bool ListFiles(const char* folder, void (*visit)(void* context, const char* name), void* context) {
  DIR* dir = ::opendir(folder);
  if (dir == nullptr) return false;
  const std::string base = std::string(folder) + "/";
  while (const dirent* entry = ::readdir(dir)) {
    struct stat info;
    if (::stat((base + entry->d_name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      visit(context, entry->d_name);
    }
  }
  ::closedir(dir);
  return true;
}

bool ErrorIsTerminal() {
  return ::isatty(STDERR_FILENO) != 0;
}

void SetBinaryOutput() {}

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

}  // namespace platform
