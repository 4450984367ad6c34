// The operating-system services Kelvorin uses, and nothing else.
//
// Everything above this layer is platform-free: it names no OS header and has
// no #ifdef. Two backends implement the contract: win32/ (the real Win32
// calls) and posix/ (the same behaviour on Linux). CMake picks one and puts
// its directory on the include path, which also supplies platform_config.h.
//
// Every call that can fail returns true when it worked; where the caller can
// act on the reason, or tell it to an operator, it is stored through an
// optional Status pointer.
#ifndef KELVORIN_PLATFORM_PLATFORM_H_
#define KELVORIN_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>

#include "platform_config.h"

namespace platform {

// Why a call failed: its kind, mapped from the OS error in one place per
// backend, and the OS's own error code (errno, GetLastError), 0 where the OS
// gave none. kNotAFile: the path names something other than a regular file
// (a folder, a FIFO, a device), which the calls below never open, delete or
// move; that refusal is the program's own, with code 0.
struct Status {
  enum Kind { kOk, kBusy, kNotFound, kDenied, kExists, kFailed, kNotAFile };
  Kind kind = kOk;
  int code = 0;
};

// The OS's own text for an error code of a Status (strerror on Linux,
// FormatMessageA on Windows), on one line, into out (cap bytes, cut to fit).
void Describe(int code, char* out, std::size_t cap);

// An open file, or none (as made). It owns what it holds and closes it when
// it goes or is moved onto; a move hands the file on and leaves none behind.
// Only the functions below may use it.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(File&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.handle_;
      other.handle_ = kNone;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // Whether a file is held.
  bool IsOpen() const { return handle_ != kNone; }

  // Closes the file now, for where it must be closed before the next step
  // (Windows moves or deletes no file that is still open); then holds none.
  // Harmless when none is held.
  void Close();

 private:
  friend struct FileHandle;                   // the backend's access to the OS's handle
  static constexpr std::intptr_t kNone = -1;  // no fd, INVALID_HANDLE_VALUE
  std::intptr_t handle_ = kNone;
};

// Full path of the running executable into out (cap bytes, NUL included).
// False, with out empty, when it cannot be had or does not fit.
[[nodiscard]] bool ModulePath(char* out, std::size_t cap);

// An INI file, read as the Win32 private-profile reader reads it: names match
// ignoring case, the first matching section and key win, blanks around a value
// and one pair of enclosing quotes are dropped. A missing or unreadable file
// reads as empty. The path is borrowed and must outlive the object.
class Profile {
 public:
  explicit Profile(const char* path);
  ~Profile();
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;

  // Stores the value of key in [section], cut to cap - 1 bytes, or fallback
  // (also cut) when the file, section or key is missing; a key present with an
  // empty value stores "". Returns the number of bytes stored.
  std::size_t Read(const char* section, const char* key, const char* fallback, char* out,
                   std::size_t cap) const;

  // Stores the names of the keys in [section] (lines with "="), each followed
  // by a NUL, and one more NUL after the last. Returns the bytes stored before
  // that last NUL. cap must hold the whole list: how a list too long for it is
  // cut differs between Win32 and Wine.
  std::size_t Keys(const char* section, char* out, std::size_t cap) const;

 private:
  const char* path_;
  char* text_ = nullptr;  // the file's bytes where the backend parses it itself
  std::size_t size_ = 0;
};

// The three Open functions open only a regular file, or one a link leads to,
// and find out without waiting: kNotAFile for anything else (a FIFO would
// otherwise wait for a writer, a folder or device is no message). They, and
// CreateNew and CreateTempBeside, close any file *out held first; *out then
// owns the file opened, or holds none when the call failed.

// Opens an existing file for reading. While it is open others may read it but
// not write it; fails with kBusy while another opener holds it for writing.
[[nodiscard]] bool OpenForRead(const char* path, File* out, Status* why = nullptr);

// Opens a file for appending, creating it empty when missing, positioned at its
// end. No other opener may write it meanwhile; fails with kBusy while another
// holds it open.
[[nodiscard]] bool OpenForAppend(const char* path, File* out, Status* why = nullptr);

// Appends n bytes to the file at path, created when missing, as one piece: no
// other appender's bytes come between them. *kept carries the file from one
// call to the next where the OS lets others append meanwhile; false with kBusy
// while another appender holds the file. One removed meanwhile is opened anew.
[[nodiscard]] bool AppendPiece(const char* path, const void* data, std::size_t n, File* kept,
                               Status* why = nullptr);

// Opens an existing file for writing from its start, without truncating it;
// others may read but not write it meanwhile.
[[nodiscard]] bool OpenForRewrite(const char* path, File* out, Status* why = nullptr);

// Creates path for writing; kExists when it is there already.
[[nodiscard]] bool CreateNew(const char* path, File* out, Status* why = nullptr);

// Size in bytes of an open file into *size.
[[nodiscard]] bool FileSize(const File& file, std::uint64_t* size, Status* why = nullptr);

// Reads n bytes from the current position into buffer, fewer only at the end
// of the file; the count read goes to *got.
[[nodiscard]] bool Read(const File& file, void* buffer, std::size_t n, std::size_t* got,
                        Status* why = nullptr);

// Writes all n bytes at the current position; a short write is a failure.
[[nodiscard]] bool WriteAll(const File& file, const void* data, std::size_t n,
                            Status* why = nullptr);

// Moves to the start of file.
[[nodiscard]] bool Rewind(const File& file, Status* why = nullptr);

// Cuts file off at the current position.
[[nodiscard]] bool EndHere(const File& file, Status* why = nullptr);

// Forces what was written to file onto the disk.
[[nodiscard]] bool Flush(const File& file, Status* why = nullptr);

// Deletes a regular file (a link: the link itself). Leaves alone what is no
// regular file (kNotAFile) and a file another opener holds open (kBusy), as
// Windows refuses to delete a file open without delete sharing; on Linux the
// flock of the Open functions stands for that open, taken without waiting.
// kNotFound: there was no such file.
[[nodiscard]] bool RemoveFile(const char* path, Status* why = nullptr);

// Whether path could be opened for writing now, as the only writer; also when
// it does not exist yet but its folder does. kBusy while another opener holds
// it, kDenied when it is read-only. Opens nothing that stays open.
[[nodiscard]] bool CheckWritable(const char* path, Status* why = nullptr);

// The path under which the file that path names can be replaced: path
// itself, or, when it is a symbolic link, the file the link leads to, into
// out (cap bytes). False when it cannot be had (too long, a broken link).
[[nodiscard]] bool ResolvePath(const char* path, char* out, std::size_t cap);

// Creates a new empty file in the folder of target, open for writing, that
// others may read but not write; hidden on Windows, with target's permission
// bits (and owner, where allowed) on Linux. Its name has a fixed length, so
// it fits wherever target does; it goes to temp_path (cap bytes). kDenied: the
// folder refuses new files.
[[nodiscard]] bool CreateTempBeside(const char* target, char* temp_path, std::size_t cap, File* out,
                                    Status* why = nullptr);

// Puts the closed file at from in the place of to in one step, replacing any
// file there, and makes the change durable. On failure to is as it was;
// kDenied: refused for want of rights (in a sticky folder, another user's to).
[[nodiscard]] bool ReplaceWith(const char* from, const char* to, Status* why = nullptr);

// Moves the closed file at from to the name to in one step and makes the
// change durable. Never replaces a file: kExists when to is taken. Fails on a
// move between volumes, which could not be one step. Moves only what
// RemoveFile would delete: kNotAFile and kBusy as there.
[[nodiscard]] bool MoveNoReplace(const char* from, const char* to, Status* why = nullptr);

// What an operator wants to know of a file: its size, its age (seconds since
// it was last written, by the system clock), and whether users other than
// its owner may read it (Linux: a group or other read bit; Windows does not
// say it in bits, and its access lists are not read: false).
struct FileFacts {
  std::uint64_t size = 0;
  std::int64_t age_seconds = 0;
  bool others_may_read = false;
};

// Fills *out for the file at path (a link: the file it leads to); kNotFound
// when there is none.
[[nodiscard]] bool DescribeFile(const char* path, FileFacts* out, Status* why = nullptr);

// Whether name (without folder) has the form of CreateTempBeside's files, so
// that a folder's leftovers of killed runs can be told from its messages.
bool IsTempName(const char* name);

// Whether path names an existing folder.
bool IsFolder(const char* path);

// Whether a and b name the same existing file or folder, by its identity
// (device and inode on Linux, volume and file index on Windows), however each
// is spelt and through any links.
bool SameFile(const char* a, const char* b);

// Calls visit(context, name) for each file directly in folder, in no
// particular order; folders are passed over. False when the folder cannot be
// read.
[[nodiscard]] bool ListFiles(const char* folder, void (*visit)(void* context, const char* name),
                             void* context);

// Whether the process's standard error goes to a terminal.
bool ErrorIsTerminal();

// Makes standard output and standard error pass bytes unchanged: Windows
// would otherwise write every LF as CR LF.
void SetBinaryOutput();

// Memory from the C heap, in one place so that tests can make it run out.
// Allocate and Reallocate return null on failure (the old block then stays
// valid); the caller owns the block and gives it back with Release.
void* Allocate(std::size_t n);
void* Reallocate(void* block, std::size_t n);
void Release(void* block);
// Lets large blocks, like small ones, take memory the process freed before
// rather than fresh pages from the OS, each of which costs a page fault: a
// run frees the driver's rows just before it builds the message.
void ReuseFreedMemory();

// Local wall-clock time.
struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime Now();

// Suspends the calling thread for about ms milliseconds.
void SleepMilliseconds(unsigned ms);

}  // namespace platform

#endif  // KELVORIN_PLATFORM_PLATFORM_H_
