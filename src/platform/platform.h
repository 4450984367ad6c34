// The operating-system services Kelvorin uses, and nothing else.
//
// Everything above this layer is platform-free: it names no OS header and has
// no #ifdef. Two backends implement the contract: win32/ (the real Win32
// calls) and posix/ (the same behaviour on Linux). CMake picks one and puts
// its directory on the include path, which also supplies platform_config.h.
#ifndef KELVORIN_PLATFORM_PLATFORM_H_
#define KELVORIN_PLATFORM_PLATFORM_H_

#include <cstddef>
#include <cstdint>

#include "platform_config.h"

namespace platform {

// Why a call failed, mapped from the OS error in one place per backend.
enum class Status { kOk, kBusy, kNotFound, kDenied, kNoSpace, kFailed };

// An open file. Only the functions below may use it.
using File = std::intptr_t;
constexpr File kNoFile = -1;

// Full path of the running executable into out (cap bytes, NUL included).
// Returns its length; 0, with out empty, when it cannot be had or does not fit.
std::size_t ModulePath(char* out, std::size_t cap);

// The value of key in [section] of the INI file at ini_path, as the Win32
// private-profile reader gives it: names match ignoring case, the first
// matching section and key win, blanks around the value and one pair of
// enclosing quotes are dropped, the value is cut to cap - 1 bytes. A missing
// file, section or key stores fallback (also cut); a key present with an empty
// value stores "". Returns the number of bytes stored, NUL not counted.
std::size_t ReadProfileString(const char* section, const char* key, const char* fallback, char* out,
                              std::size_t cap, const char* ini_path);

// Opens an existing file for reading. While it is open others may read it but
// not write it; fails with kBusy while another opener holds it for writing.
// Returns kNoFile on failure, with the reason in *status when status is set.
File OpenForRead(const char* path, Status* status);

// Opens a file for appending, creating it empty when missing, positioned at its
// end. No other opener may write it meanwhile; fails with kBusy while another
// holds it open. Returns kNoFile on failure, with the reason in *status.
File OpenForAppend(const char* path, Status* status);

// Size in bytes of an open file into *size. Returns false on failure.
bool FileSize(File file, std::uint64_t* size);

// Reads up to n bytes from the current position; fewer only at end of file.
// Returns the count read, or -1 on an error.
long long Read(File file, void* buffer, std::size_t n);

// Writes all n bytes at the current position. Returns false on any failure,
// a short write included.
bool WriteAll(File file, const void* data, std::size_t n);

// Closes a file that an Open function returned. kNoFile is ignored.
void Close(File file);

// Deletes a file. Returns false when the OS refuses, with the reason in
// *status when status is set (kNotFound: there was no such file).
bool RemoveFile(const char* path, Status* status = nullptr);

// Whether path could be opened for writing now, as the only writer: kOk also
// when it does not exist yet; kBusy while another opener holds it; kDenied
// when it is read-only. Opens nothing that stays open and changes nothing.
Status CheckWritable(const char* path);

// The path of the file that path names, every symbolic link followed, into
// out (cap bytes). Returns false, out undefined, when it cannot be had (no such
// file, or too long): the caller then uses path as it is.
bool ResolvePath(const char* path, char* out, std::size_t cap);

// Creates a new empty file in the folder of target, open for writing, that
// others may read but not write; hidden on Windows, with target's permission
// bits (and owner, where allowed) on Linux. Its name has a fixed length, so
// it fits wherever target does. Stores its path in temp_path (cap bytes).
// Returns kNoFile on failure, with the reason in *status (kDenied: the
// folder refuses new files).
File CreateTempBeside(const char* target, char* temp_path, std::size_t cap, Status* status);

// Opens an existing file for writing from its start, without truncating it;
// others may read but not write it meanwhile. Returns kNoFile on failure.
File OpenForRewrite(const char* path, Status* status);

// Moves to the start of file. Returns false on failure.
bool Rewind(File file);

// Cuts file off at the current position. Returns false on failure.
bool EndHere(File file);

// Forces what was written to file onto the disk. Returns false on failure.
bool Flush(File file);

// Puts the closed file at from in the place of to in one step, replacing
// any file there, and makes the change durable. Returns false on failure,
// leaving to as it was.
bool ReplaceWith(const char* from, const char* to);

// Memory from the C heap, in one place so that tests can make it run out.
// Allocate and Reallocate return null on failure (the old block then stays
// valid); the caller owns the block and gives it back with Release.
void* Allocate(std::size_t n);
void* Reallocate(void* block, std::size_t n);
void Release(void* block);

// Local wall-clock time.
struct LocalTime {
  int year, month, day, hour, minute, second;
};
LocalTime Now();

// Suspends the calling thread for about ms milliseconds.
void SleepMilliseconds(unsigned ms);

// An in-process lock over the OS primitive (a critical section on Windows).
// Storage only; LockInit must run before LockEnter/LockLeave, LockDelete after.
struct Lock {
  alignas(8) unsigned char storage[kLockStorageSize];
};
void LockInit(Lock* lock);
void LockEnter(Lock* lock);
void LockLeave(Lock* lock);
void LockDelete(Lock* lock);

}  // namespace platform

#endif  // KELVORIN_PLATFORM_PLATFORM_H_
