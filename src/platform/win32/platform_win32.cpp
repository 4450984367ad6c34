// Windows backend of platform.h: the Win32 calls themselves, with the access
// and share modes that give Kelvorin its file semantics.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "fault.h"
#include "platform.h"

namespace platform {

// What a File holds here: a HANDLE.
struct FileHandle {
  static HANDLE Of(const File& file) { return reinterpret_cast<HANDLE>(file.handle_); }
  static void Take(File* file, HANDLE handle) {
    file->Close();
    file->handle_ = reinterpret_cast<std::intptr_t>(handle);
  }
};

void File::Close() {
  if (handle_ != kNone) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = kNone;
}

namespace {

static_assert(kMaxPath == MAX_PATH, "kMaxPath must equal MAX_PATH");

// The one place where a Win32 error becomes a Status.
Status::Kind FromError(DWORD error) {
  switch (error) {
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return Status::kBusy;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Status::kExists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return Status::kNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return Status::kDenied;
    default:
      return Status::kFailed;
  }
}

HANDLE H(const File& file) {
  return FileHandle::Of(file);
}

// Stores the reason of the failed call, GetLastError, in *why. Always false.
bool Failed(Status* why) {
  DWORD error = GetLastError();
  if (why) *why = {FromError(error), static_cast<int>(error)};
  return false;
}

// Sets the error as the call that a test's fault stands for would, and fails.
bool Tripped(DWORD error, Status* why) {
  SetLastError(error);
  return Failed(why);
}

// Gives handle to *out, or fails with the open's error when it is none.
bool Opened(HANDLE handle, File* out, Status* why) {
  if (handle == INVALID_HANDLE_VALUE) return Failed(why);
  FileHandle::Take(out, handle);
  return true;
}

// Fails with kNotAFile. Always false.
bool NotAFile(Status* why) {
  if (why) *why = {Status::kNotAFile, 0};
  return false;
}

// CreateFileA as every open here calls it: others may read the file while it
// is open, never write it. Only a disk file: a device ("NUL", "CON") or a pipe
// opens as something else, and a folder fails to open as access denied.
bool OpenSharingReads(const char* path, DWORD access, DWORD disposition, File* out, Status* why) {
  out->Close();
  HANDLE h = CreateFileA(path, access, FILE_SHARE_READ, nullptr, disposition, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED && IsFolder(path)) return NotAFile(why);
    SetLastError(error);
  } else if (GetFileType(h) != FILE_TYPE_DISK) {
    CloseHandle(h);
    return NotAFile(why);
  }
  return Opened(h, out, why);
}

// The identity of what path names, through a handle that reads nothing and
// keeps nobody out; folders open too (FILE_FLAG_BACKUP_SEMANTICS).
bool Identify(const char* path, BY_HANDLE_FILE_INFORMATION* info, DWORD* type) {
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  *type = GetFileType(h);
  bool known = GetFileInformationByHandle(h, info) != 0;
  CloseHandle(h);
  return known;
}

// Whether path names something that is surely no disk file. What cannot be
// looked at is left to the call that follows, which tells why it fails.
bool NoDiskFile(const char* path) {
  BY_HANDLE_FILE_INFORMATION info;
  DWORD type = FILE_TYPE_UNKNOWN;
  if (!Identify(path, &info, &type)) return type != FILE_TYPE_UNKNOWN && type != FILE_TYPE_DISK;
  return type != FILE_TYPE_DISK || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// "\\?\C:\..." or "\\?\UNC\server\..." as the ANSI calls take them.
void DropLongPrefix(char* path) {
  if (std::strncmp(path, "\\\\?\\UNC\\", 8) == 0) {
    std::memmove(path + 2, path + 8, std::strlen(path + 8) + 1);
  } else if (std::strncmp(path, "\\\\?\\", 4) == 0) {
    std::memmove(path, path + 4, std::strlen(path + 4) + 1);
  }
}

// Chunks for ReadFile/WriteFile, whose counts are 32-bit.
constexpr DWORD kChunk = 1u << 30;

}  // namespace

// The Windows heap serves large blocks from what was freed by itself.
void ReuseFreedMemory() {}

void Describe(int code, char* out, std::size_t cap) {
  if (cap == 0) return;
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(code), 0, out, static_cast<DWORD>(cap), nullptr);
  if (n == 0) {
    std::snprintf(out, cap, "Windows error %d", code);
    return;
  }
  // The system's texts end with CR LF, and a few break lines inside; the
  // text goes on one log line.
  while (n > 0 && (out[n - 1] == '\r' || out[n - 1] == '\n' || out[n - 1] == ' ')) --n;
  out[n] = '\0';
  for (char* c = out; *c; ++c) {
    if (*c == '\r' || *c == '\n') *c = ' ';
  }
}

bool ModulePath(char* out, std::size_t cap) {
  if (cap == 0) return false;
  DWORD n = GetModuleFileNameA(nullptr, out, static_cast<DWORD>(cap));
  if (n == 0 || n >= cap) {  // n == cap: the path was cut
    out[0] = '\0';
    return false;
  }
  return true;
}

// GetPrivateProfileStringA reads the file itself, at every call.
Profile::Profile(const char* path) : path_(path) {}

Profile::~Profile() = default;

std::size_t Profile::Read(const char* section, const char* key, const char* fallback, char* out,
                          std::size_t cap) const {
  if (cap == 0) return 0;
  // An empty name would send the reader to the Windows folder.
  const char* path = path_ != nullptr && path_[0] != '\0' ? path_ : "\\";
  return GetPrivateProfileStringA(section, key, fallback, out, static_cast<DWORD>(cap), path);
}

std::size_t Profile::Keys(const char* section, char* out, std::size_t cap) const {
  if (cap < 2) return 0;
  const char* path = path_ != nullptr && path_[0] != '\0' ? path_ : "\\";
  return GetPrivateProfileStringA(section, nullptr, "", out, static_cast<DWORD>(cap), path);
}

bool OpenForRead(const char* path, File* out, Status* why) {
  return OpenSharingReads(path, GENERIC_READ, OPEN_EXISTING, out, why);
}

bool OpenForAppend(const char* path, File* out, Status* why) {
  if (!OpenSharingReads(path, GENERIC_WRITE, OPEN_ALWAYS, out, why)) return false;
  if (SetFilePointer(H(*out), 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER ||
      GetLastError() == NO_ERROR) {
    return true;
  }
  Failed(why);
  out->Close();
  return false;
}

bool AppendPiece(const char* path, const void* data, std::size_t n, File* kept, Status* why) {
  // A handle keeps its share mode while it is open: closed after each piece,
  // so that other instances append between them.
  if (!OpenForAppend(path, kept, why)) return false;
  const bool written = WriteAll(*kept, data, n, why);
  kept->Close();
  return written;
}

bool OpenForRewrite(const char* path, File* out, Status* why) {
  return OpenSharingReads(path, GENERIC_WRITE, OPEN_EXISTING, out, why);
}

bool CreateNew(const char* path, File* out, Status* why) {
  return OpenSharingReads(path, GENERIC_WRITE, CREATE_NEW, out, why);
}

bool FileSize(const File& file, std::uint64_t* size, Status* why) {
  LONG high = 0;
  SetLastError(NO_ERROR);
  DWORD low = SetFilePointer(H(file), 0, &high, FILE_END);
  if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return Failed(why);
  if (SetFilePointer(H(file), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
    return Failed(why);
  }
  *size = (static_cast<std::uint64_t>(static_cast<DWORD>(high)) << 32) | low;
  return true;
}

bool Read(const File& file, void* buffer, std::size_t n, std::size_t* got, Status* why) {
  char* at = static_cast<char*>(buffer);
  *got = 0;
  while (*got < n) {
    DWORD want = n - *got < kChunk ? static_cast<DWORD>(n - *got) : kChunk;
    DWORD part = 0;
    if (!ReadFile(H(file), at + *got, want, &part, nullptr)) return Failed(why);
    if (part == 0) break;
    *got += part;
  }
  return true;
}

bool WriteAll(const File& file, const void* data, std::size_t n, Status* why) {
  if (fault::Trip(fault::Op::kWrite)) return Tripped(ERROR_WRITE_FAULT, why);
  const char* at = static_cast<const char*>(data);
  while (n > 0) {
    DWORD want = n < kChunk ? static_cast<DWORD>(n) : kChunk;
    DWORD put = 0;
    if (!WriteFile(H(file), at, want, &put, nullptr) || put == 0) return Failed(why);
    at += put;
    n -= put;
  }
  return true;
}

// DeleteFileA and MoveFileExA themselves refuse a file that another program
// holds open without delete sharing (kBusy).
bool RemoveFile(const char* path, Status* why) {
  if (NoDiskFile(path)) return NotAFile(why);
  return DeleteFileA(path) || Failed(why);
}

bool CheckWritable(const char* path, Status* why) {
  File file;
  if (OpenForRewrite(path, &file)) return true;
  return GetLastError() == ERROR_FILE_NOT_FOUND || Failed(why);
}

bool ResolvePath(const char* path, char* out, std::size_t cap) {
  HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD n = GetFinalPathNameByHandleA(h, out, static_cast<DWORD>(cap), FILE_NAME_NORMALIZED);
  CloseHandle(h);
  if (n == 0 || n >= cap) return false;
  DropLongPrefix(out);
  return true;
}

// "<folder>\~kelvorin-<pid>-<n>.tmp", hidden: beside the target so that the
// move stays on one volume, and of a fixed length so that it fits wherever
// the message's own name does.
bool CreateTempBeside(const char* target, char* temp_path, std::size_t cap, File* out,
                      Status* why) {
  out->Close();
  static unsigned counter = 0;
  const char* slash = std::strrchr(target, '\\');
  int folder = slash ? static_cast<int>(slash - target + 1) : 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    int n = std::snprintf(temp_path, cap, "%.*s~kelvorin-%lu-%u.tmp", folder, target,
                          static_cast<unsigned long>(GetCurrentProcessId()), counter++);
    if (n < 0 || static_cast<std::size_t>(n) >= cap) break;
    // Hidden, as the merged message is meant to be: the move keeps it.
    HANDLE h = CreateFileA(temp_path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_HIDDEN, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) {
      return Opened(h, out, why);
    }
  }
  if (cap > 0) temp_path[0] = '\0';
  if (why) *why = {Status::kFailed, static_cast<int>(GetLastError())};
  return false;
}

bool Rewind(const File& file, Status* why) {
  return SetFilePointer(H(file), 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER || Failed(why);
}

bool EndHere(const File& file, Status* why) {
  return SetEndOfFile(H(file)) != 0 || Failed(why);
}

bool Flush(const File& file, Status* why) {
  if (fault::Trip(fault::Op::kFlush)) return Tripped(ERROR_WRITE_FAULT, why);
  return FlushFileBuffers(H(file)) != 0 || Failed(why);
}

bool ReplaceWith(const char* from, const char* to, Status* why) {
  // ERROR_ACCESS_DENIED: the one refusal with a way round it, for the merge's tests.
  if (fault::Trip(fault::Op::kRename)) return Tripped(ERROR_ACCESS_DENIED, why);
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) || Failed(why);
}

bool MoveNoReplace(const char* from, const char* to, Status* why) {
  if (NoDiskFile(from)) return NotAFile(why);  // MoveFileExA would move a whole folder
  // Without MOVEFILE_COPY_ALLOWED a move to another volume fails instead of
  // becoming a copy; without MOVEFILE_REPLACE_EXISTING a taken name fails.
  return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) || Failed(why);
}

namespace {

// FILETIME counts 100-nanosecond steps.
std::int64_t Ticks(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}

}  // namespace

bool DescribeFile(const char* path, FileFacts* out, Status* why) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return Failed(why);
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  out->size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  out->age_seconds = (Ticks(now) - Ticks(data.ftLastWriteTime)) / 10000000;
  out->others_may_read = false;
  return true;
}

bool IsTempName(const char* name) {
  constexpr char kPrefix[] = "~kelvorin-", kSuffix[] = ".tmp";
  const std::size_t n = std::strlen(name), prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
  return n > prefix + suffix && std::strncmp(name, kPrefix, prefix) == 0 &&
         std::strcmp(name + n - suffix, kSuffix) == 0;
}

bool IsFolder(const char* path) {
  DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SameFile(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION one, other;
  DWORD type;
  return Identify(a, &one, &type) && Identify(b, &other, &type) &&
         one.dwVolumeSerialNumber == other.dwVolumeSerialNumber &&
         one.nFileIndexHigh == other.nFileIndexHigh && one.nFileIndexLow == other.nFileIndexLow;
}

bool ListFiles(const char* folder, void (*visit)(void* context, const char* name), void* context) {
  char pattern[kMaxPath + 4];
  int n = std::snprintf(pattern, sizeof pattern, "%s\\*", folder);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof pattern) return false;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) visit(context, found.cFileName);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return true;
}

bool ErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void SetBinaryOutput() {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
}

LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return LocalTime{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
}

void SleepMilliseconds(unsigned ms) {
  Sleep(ms);
}

}  // namespace platform
